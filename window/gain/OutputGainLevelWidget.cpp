#include "OutputGainLevelWidget.h"

#include "CZunDelaySpinBox.h"
#include "GainStripScales.h"
#include "SliderChannelGain.h"
#include "ThermoCoilTemperature.h"
#include "ThermoGainReduction.h"
#include "ThermoOutputLevel.h"
#include "ZunChannelMimeData.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QDrag>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void initLEDResources() { Q_INIT_RESOURCE(gainleds); }

namespace
{
// The two LED pictures, loaded once for every strip.
const QPixmap& ledPicture(bool on)
{
    static const QPixmap off = (initLEDResources(), QPixmap(QStringLiteral(":/resources/LED/RedLEDOff12x6.png")));
    static const QPixmap lit(QStringLiteral(":/resources/LED/RedLEDOn12x6.png"));
    return on ? lit : off;
}

QLabel* ledLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    const QPixmap& off = ledPicture(false);
    label->setPixmap(off);
    label->setMinimumSize(off.size());
    label->setMaximumSize(off.size());
    return label;
}

bool shiftHeld(Qt::KeyboardModifiers mods) { return mods & Qt::ShiftModifier; }
} // namespace

OutputGainLevelWidget::OutputGainLevelWidget(QWidget* parent)
    : ZunGainStrip(new SliderChannelGain, parent), m_level(new ThermoOutputLevel(this)),
      m_gainReduction(new ThermoGainReduction(this)), m_temperature(new ThermoCoilTemperature(this)),
      m_peakLED(ledLabel(this)), m_thermoLED(ledLabel(this)), m_invert(new QPushButton(tr("Phase Inv."), this)),
      m_levelBox(new QVBoxLayout), m_gainReductionBox(new QVBoxLayout)
{
    setWindowTitle(tr("Output gain"));
    setAcceptDrops(true);
    const QColor level = settingColor("ColorLevelMeter");
    if (level.isValid())
        m_level->setFillBrush(QBrush(level));
    const QColor reduction = settingColor("ColorGainReductionMeter");
    if (reduction.isValid())
        m_gainReduction->setFillBrush(QBrush(reduction));
    const QColor active = settingColor("ColorButtonActive");
    m_mute->setStyleSheet(muteStyle(settingColor("ColorButtonInactive"), active, active.lighter(130)));
    m_invert->setCheckable(true);
    const QColor button = m_invert->palette().color(QPalette::Active, QPalette::Button);
    m_invert->setStyleSheet(QStringLiteral("QPushButton {background-color: %1;} QPushButton:checked{background-color: "
                                           "%2;} QPushButton:pressed {background-color: %2;}QPushButton:checked{color: "
                                           "#000000;} QPushButton:pressed {color: #000000;}")
                                .arg(button.name(), button.lighter(256).name()));

    const int d = m_gainReduction->borderDistance();
    auto* temperatureBox = new QVBoxLayout;
    temperatureBox->addWidget(m_thermoLED);
    temperatureBox->addWidget(m_temperature);
    temperatureBox->setContentsMargins(0, d, 0, d);
    const int ledHeight = ledPicture(false).height();
    const int width = m_temperature->pipeWidth() + 2 * m_temperature->borderWidth() + 2;
    m_temperature->setMinimumWidth(width);
    m_temperature->setMaximumWidth(width);
    m_temperature->setMinimumHeight(70 - 3 * ledHeight - temperatureBox->spacing());
    m_temperature->setMaximumHeight(70 - ledHeight - temperatureBox->spacing());

    m_gainReductionBox->addWidget(m_gainReduction);
    m_gainReductionBox->setContentsMargins(0, d, 0, d);
    m_gainReduction->setMinimumSize(20, (35 - d) * 2);

    m_levelBox->setSpacing(0);
    m_levelBox->addWidget(m_peakLED);
    m_levelBox->addWidget(m_level, 0, Qt::AlignLeft);
    m_level->setMinimumSize(12, (60 - d) * 2);

    m_grid->addWidget(m_nameLabel, 0, 0, 1, 2);
    m_grid->addLayout(temperatureBox, 1, 0, 1, 1, Qt::AlignRight);
    m_grid->addLayout(m_gainReductionBox, 1, 1, 1, 1, Qt::AlignLeft);
    m_grid->addWidget(m_slider, 2, 0, 1, 1, Qt::AlignRight);
    m_grid->addLayout(m_levelBox, 2, 1, 1, 1);
    m_grid->addWidget(m_gainBox, 3, 0, 1, 2);
    m_grid->addWidget(m_delayLabel, 4, 0, 1, 2);
    m_grid->addWidget(m_delayBox, 5, 0, 1, 2);
    m_grid->addWidget(m_mute, 6, 0, 1, 2);
    m_grid->addWidget(m_invert, 7, 0, 1, 2);

    connect(m_invert, &QPushButton::clicked, this, &OutputGainLevelWidget::onButtonPhInvert);
}

void OutputGainLevelWidget::setLevel(double dB) { m_level->showValue(dB, 0.5); }

void OutputGainLevelWidget::setGainReduction(double dB) { m_gainReduction->showValue(dB, 0.5); }

void OutputGainLevelWidget::setCoilTemperature(double value) { m_temperature->showValue(value, 1.0); }

void OutputGainLevelWidget::setPhaseInvert(bool on)
{
    const QSignalBlocker block(m_invert);
    m_invert->setChecked(on);
}

void OutputGainLevelWidget::disableMute(bool on) { setMuteReason(MasterReason, on); }

void OutputGainLevelWidget::disableMuteForPath(int path, bool on) { setMuteReason(path, on); }

void OutputGainLevelWidget::setMuteReason(int reason, bool on)
{
    if (on)
        m_muteReasons.insert(reason);
    else
        m_muteReasons.remove(reason);
    m_mute->setDisabled(isMuteDisabled());
}

void OutputGainLevelWidget::switchPeakLED(bool on)
{
    if (on == m_peak)
        return;
    m_peak = on;
    m_peakLED->setPixmap(ledPicture(on));
}

void OutputGainLevelWidget::switchThermoLED(bool on)
{
    // A new picture also re-lays the strip out: only a changed state sets one.
    if (on == m_thermo)
        return;
    m_thermo = on;
    m_thermoLED->setPixmap(ledPicture(on));
}

void OutputGainLevelWidget::onButtonPhInvert(bool checked) { emit invertChannel(name(), checked); }

void OutputGainLevelWidget::drawLevelScale(bool on) { showMeterScale(m_level, m_levelBox, on, QSize(20, 120), 60); }

void OutputGainLevelWidget::drawGainReductionScale(bool on)
{
    showMeterScale(m_gainReduction, m_gainReductionBox, on, QSize(20, 70), 35);
}

ZunChannelMimeData* OutputGainLevelWidget::createMimeData() const
{
    auto* data = new ZunChannelMimeData;
    data->setGain(gain());
    data->setDelay(delay());
    data->setMuted(m_mute->isChecked());
    data->setPhaseInverted(m_invert->isChecked());
    data->setHasChannelSettings(true);
    return data;
}

void OutputGainLevelWidget::applyMimeData(const ZunChannelMimeData* data)
{
    if (!data || !data->hasChannelSettings())
        return;
    setGain(data->getGain());
    setDelay(data->getDelay());
    emit muteChannel(name(), data->isMuted());
    emit invertChannel(name(), data->isPhaseInverted());
}

void OutputGainLevelWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressPoint = event->pos();
    else if (event->button() == Qt::RightButton)
        event->ignore(); // the page opens its context menu
}

void OutputGainLevelWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    if (shiftHeld(event->modifiers())) {
        event->ignore(); // the page carries the whole channel
        return;
    }
    if ((event->pos() - m_pressPoint).manhattanLength() < QApplication::startDragDistance())
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(createMimeData());
    // The page holds its rebuilds back while the drag runs: they would delete this strip,
    // and the drag with it, from inside the drag's own event loop.
    emit dragRunning(true);
    drag->exec(Qt::CopyAction);
    emit dragRunning(false);
}

void OutputGainLevelWidget::dragEnterEvent(QDragEnterEvent* event)
{
    if (shiftHeld(event->keyboardModifiers())) {
        event->ignore();
        return;
    }
    const auto* data = qobject_cast<const ZunChannelMimeData*>(event->mimeData());
    if (data && data->hasChannelSettings())
        event->acceptProposedAction();
}

void OutputGainLevelWidget::dropEvent(QDropEvent* event)
{
    if (shiftHeld(event->keyboardModifiers())) {
        event->ignore();
        return;
    }
    applyMimeData(qobject_cast<const ZunChannelMimeData*>(event->mimeData()));
    event->acceptProposedAction();
}
