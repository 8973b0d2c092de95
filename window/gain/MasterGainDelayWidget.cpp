#include "MasterGainDelayWidget.h"

#include "CZunDelaySpinBox.h"
#include "GainStripScales.h"
#include "SliderMasterGain.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpacerItem>

MasterGainDelayWidget::MasterGainDelayWidget(QWidget* parent) : ZunGainStrip(new SliderMasterGain, parent)
{
    setWindowTitle(tr("Master gain"));
    m_nameLabel->setText(tr("Master"));
    m_gainBox->setMinimumWidth(48);
    m_delayBox->setMinimumWidth(48);
    m_mute->setMinimumWidth(48);
    m_mute->setStyleSheet(muteStyle(settingColor("ColorButtonInactive"), settingColor("ColorButtonActive")));

    m_grid->addWidget(m_nameLabel, 0, 0);
    m_grid->addWidget(m_slider, 2, 0, Qt::AlignJustify);
    m_grid->addWidget(m_gainBox, 3, 0);
    m_grid->addWidget(m_delayLabel, 4, 0);
    m_grid->addWidget(m_delayBox, 5, 0);
    m_grid->addWidget(m_mute, 6, 0);
    m_grid->addItem(new QSpacerItem(40, 25, QSizePolicy::Expanding, QSizePolicy::Minimum), 7, 0);
}

void MasterGainDelayWidget::applyGainScale(double min, double max)
{
    m_slider->setGainScale(GainStripScales::masterGain(min, max), 5.0, 1, 2, 3);
}

QSize MasterGainDelayWidget::sliderSizeWithoutScale() const { return QSize(m_slider->handleSize().width(), 120); }
