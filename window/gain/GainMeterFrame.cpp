#include "GainMeterFrame.h"

#include "AudioIOStatus.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "GainMeterLayer.h"
#include "InputGainLevelWidget.h"
#include "OutputGainLevelWidget.h"
#include "ThermoCoilTemperature.h"
#include "ThermoGainReduction.h"
#include "ThermoInputLevel.h"
#include "ThermoOutputLevel.h"

#include <QWidget>

GainMeterFrame::GainMeterFrame(QSharedPointer<AudioIOStatus> status, QWidget* page)
    : QObject(page), m_page(page), m_layer(new GainMeterLayer(page)), m_status(std::move(status))
{
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    m_frame.setInterval(FrameMs + EndMs);
    connect(&m_frame, &QTimer::timeout, this, [this]() {
        if (!m_due)
            return;
        m_due = false;
        showHeld();
        m_frame.start();
    });
}

GainMeterFrame::~GainMeterFrame()
{
    if (m_status)
        disconnect(m_status.data(), nullptr, this, nullptr);
}

void GainMeterFrame::addInput(InputGainLevelWidget* strip, CZunInput* channel)
{
    m_inputs.append({strip, channel});
    m_layer->addMeter(strip->levelMeter());
}

void GainMeterFrame::addOutput(OutputGainLevelWidget* strip, CZunOutput* channel)
{
    m_outputs.append({strip, channel});
    m_layer->addMeter(strip->levelMeter());
    m_layer->addMeter(strip->gainReductionMeter());
    m_layer->addMeter(strip->temperatureMeter());
}

void GainMeterFrame::clear()
{
    m_inputs.clear();
    m_outputs.clear();
    m_layer->clear();
}

void GainMeterFrame::connectStatus()
{
    m_connected = true;
    if (m_status)
        connect(m_status.data(), &AudioIOStatus::refreshed, this, &GainMeterFrame::onRefreshed, Qt::UniqueConnection);
}

void GainMeterFrame::disconnectStatus()
{
    m_connected = false;
    if (m_status)
        disconnect(m_status.data(), &AudioIOStatus::refreshed, this, &GainMeterFrame::onRefreshed);
    m_frame.stop();
    m_due = false;
    // What the stopped frame held is no status of the next connection.
    for (InputMeter& m : m_inputs)
        m.held = {};
    for (OutputMeter& m : m_outputs)
        m.held = {};
}

void GainMeterFrame::onRefreshed()
{
    // Meters nobody sees neither move nor wake a frame (the other board's page, another tab).
    if (!m_page->isVisible())
        return;
    if (m_frame.isActive() && m_frame.remainingTime() > 2 * EndMs) {
        hold();
        m_due = true;
        return;
    }
    m_due = false;
    showNow();
    m_frame.start();
}

void GainMeterFrame::showNow()
{
    hold();
    showHeld();
}

void GainMeterFrame::pageShown()
{
    if (m_connected)
        showNow();
}

void GainMeterFrame::hold()
{
    if (!m_status)
        return;
    for (InputMeter& m : m_inputs)
        if (m.channel)
            m.held.level = qMax(m.held.level, m_status->GetInputLevel(m.channel->GetInputPath()));
    for (OutputMeter& m : m_outputs) {
        if (!m.channel)
            continue;
        const int o = int(m.channel->GetOutput());
        Hold& h = m.held;
        h.level = qMax(h.level, m_status->GetOutputLevel(o));
        h.reduction = qMax(h.reduction, m_status->GetGainReduction(o));
        h.temperature = qMax(h.temperature, m_status->GetTemperature(o));
        h.peak = h.peak || m_status->GetLimiterStatusBit(o);
        h.thermal = h.thermal || m_status->GetTemperatureStatusBit(o);
    }
}

void GainMeterFrame::showHeld()
{
    m_layer->beginFrame();
    for (InputMeter& m : m_inputs) {
        if (m.channel && m.held.level > NoneHeld)
            m.strip->setLevel(m.held.level);
        m.held = {};
    }
    for (OutputMeter& m : m_outputs) {
        const Hold h = m.held;
        m.held = {};
        if (!m.channel || h.level <= NoneHeld)
            continue;
        m.strip->setLevel(h.level);
        m.strip->setGainReduction(h.reduction);
        m.strip->setCoilTemperature(h.temperature);
        m.strip->switchPeakLED(h.peak);
        m.strip->switchThermoLED(h.thermal);
    }
    m_layer->endFrame();
}
