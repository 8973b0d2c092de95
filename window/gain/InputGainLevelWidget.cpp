#include "InputGainLevelWidget.h"

#include "CZunDelaySpinBox.h"
#include "SliderInputGain.h"
#include "ThermoInputLevel.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

InputGainLevelWidget::InputGainLevelWidget(QWidget* parent)
    : ZunGainStrip(new SliderInputGain, parent), m_level(new ThermoInputLevel(this)), m_levelBox(new QVBoxLayout)
{
    setWindowTitle(tr("Input gain"));
    m_nameLabel->setText(tr("Input"));
    const QColor level = settingColor("ColorLevelMeter");
    if (level.isValid())
        m_level->setFillBrush(QBrush(level));
    m_level->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_levelBox->addWidget(m_level);
    m_mute->setStyleSheet(muteStyle(settingColor("ColorButtonInactive"), settingColor("ColorButtonActive"),
                                    settingColor("ColorButtonActive").lighter(130)));

    m_grid->addWidget(m_nameLabel, 0, 0, 1, 2);
    m_grid->setRowMinimumHeight(1, 70); // lines the strip up with the output strips' meters
    m_grid->addWidget(m_slider, 2, 0, 1, 1);
    m_grid->addLayout(m_levelBox, 2, 1, 1, 1);
    m_grid->addWidget(m_gainBox, 3, 0, 1, 2);
    m_grid->addWidget(m_delayLabel, 4, 0, 1, 2);
    m_grid->addWidget(m_delayBox, 5, 0, 1, 2);
    m_grid->addWidget(m_mute, 6, 0, 1, 2);
    m_grid->addItem(new QSpacerItem(40, 25, QSizePolicy::Expanding, QSizePolicy::Minimum), 7, 0, 1, 2);
}

void InputGainLevelWidget::setLevel(double dB) { m_level->showValue(dB, 0.5); }

void InputGainLevelWidget::disableMute(bool on) { m_mute->setDisabled(on); }

void InputGainLevelWidget::drawLevelScale(bool on) { showMeterScale(m_level, m_levelBox, on, QSize(20, 120), 60); }
