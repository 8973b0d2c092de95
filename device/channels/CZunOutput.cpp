#include "CZunOutput.h"

#include "CEQManager.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunInput.h"
#include "CZunParam.h"
#include "ZunChannelMimeData.h"

#include <QTimer>

#include <stdexcept>

CZunOutput::CZunOutput(CZun* zun, ZunC::AnalogOutputs output)
    : CZunAbstractInOutput(zun, output), m_output(output)
{
    setDefaultName(defaultName(int(output)));
    QObject::connect(zun, &CZun::signal_ChannelGain, this, &CZunOutput::on_GainChanged);
    QObject::connect(zun, &CZun::signal_ChannelInvert, this, &CZunOutput::on_PhaseInvertChanged);
}

CZunOutput::~CZunOutput()
{
    if (!m_zun || !m_zun->GetRoutingManager())
        return;
    if (CZunInput* input = m_zun->GetRoutingManager()->GetInput(GetSource())) {
        removeResponse(input);
        QObject::disconnect(input, &CZunAbstractInOutput::signal_Changed, this,
                            &CZunAbstractInOutput::notify_InOutputChanged);
    }
}

QString CZunOutput::defaultName(int output)
{
    return output >= 0 && output < 8 ? QStringLiteral("Output %1").arg(output + 1) : QString();
}

double CZunOutput::GetGain() const { return m_zun->GetChannelGain(m_output); }

void CZunOutput::SetGain(float gain)
{
    checkGain(gain, false);
    // The response follows the device's report of the new gain.
    m_zun->SetChannelGain(gain, m_output);
}

bool CZunOutput::IsMuted() const { return m_zun->IsChannelMuted(m_output); }

bool CZunOutput::IsMasterMuted() const { return masterMutedOnDsp(int(m_output) / 4); }

void CZunOutput::SetMute(bool mute) { m_zun->MuteChannel(m_output, mute); }

bool CZunOutput::IsPhaseInverted() const { return m_zun->IsChannelPhaseInverted(m_output); }

void CZunOutput::SetPhaseInverted(bool inverted)
{
    m_zun->SetChannelPhaseInversion(m_output, inverted);
    applyGain(GetGain(), inverted);
    emit signal_Changed(this);
}

CZunDelay CZunOutput::GetDelay() const { return m_zun->GetChannelDelay(m_output); }

void CZunOutput::SetDelay(const CZunDelay& delay) { m_zun->SetChannelDelay(delay, m_output); }

int CZunOutput::GetSource() const
{
    return m_zun->GetRoutingManager()->GetRecord().GetSourceOfOutput(int(m_output));
}

void CZunOutput::ConnectSource()
{
    CZunInput* input = m_zun->GetRoutingManager()->GetInput(GetSource());
    if (!input)
        return;
    addResponse(input);
    QObject::connect(input, &CZunAbstractInOutput::signal_Changed, this, &CZunAbstractInOutput::notify_InOutputChanged,
                     Qt::UniqueConnection);
}

void CZunOutput::on_GainChanged(ZunC::AnalogOutputs output, double gain)
{
    if (output != m_output)
        return;
    // The factor at once (who asks for it gets the reported gain), the response later.
    const bool suspended = suspendRecalculation;
    suspendRecalculation = true;
    applyGain(gain, IsPhaseInverted());
    suspendRecalculation = suspended;
    changedLater();
}

void CZunOutput::changedLater()
{
    if (m_changePending)
        return;
    m_changePending = true;
    QTimer::singleShot(0, this, [this]() {
        m_changePending = false;
        changed();
    });
}

void CZunOutput::on_PhaseInvertChanged(ZunC::AnalogOutputs output, bool inverted)
{
    if (output != m_output)
        return;
    applyGain(GetGain(), inverted);
    emit signal_Changed(this);
}

// --- copy and paste -------------------------------------------------------------------

bool CZunOutput::canApplyMimeData(const QMimeData* data) const
{
    const auto* payload = qobject_cast<const ZunChannelMimeData*>(data);
    return payload &&
           (payload->hasChannelSettings() || !payload->getEQs().isEmpty() || !payload->getFilters().isEmpty());
}

QMimeData* CZunOutput::createMimeData() const
{
    auto* payload = new ZunChannelMimeData;
    CEQManager* manager = m_zun->GetEQManager();
    for (const QPointer<CZunBiquad>& b : GetEQList()) {
        if (!b)
            continue;
        EQ_PARAMS p;
        p.number = b->getNumber();
        manager->GetEQ(p);
        payload->appendEQ(p);
    }
    for (const QPointer<CZunHighOrderFilter>& f : GetHighOrderFilterList()) {
        if (!f)
            continue;
        HO_FILTER_PARAMS p;
        p.number = f->getNumber();
        manager->GetHighOrderFilter(p);
        // The record keeps no bypass state: the object's own goes with the copy.
        p.active = !f->isBypassed();
        payload->appendFilter(p);
    }
    payload->setPhaseInverted(IsPhaseInverted());
    payload->setMuted(IsMuted());
    try {
        payload->setDelay(GetDelay());
    } catch (const std::logic_error&) {
        // The delay is not modelled yet; a paste does not set it.
    }
    payload->setGain(GetGain());
    payload->setHasChannelSettings(true);
    payload->setWholeChannel(true);
    return payload;
}

namespace
{
[[noreturn]] void refuse(const QString& reason)
{
    throw std::logic_error(("CZunOutput::applyMimeData(): the channel was left as it was: " + reason).toStdString());
}

void checkInside(const QString& what, double value, const CEQManagerInterface::Limits& limits)
{
    if (!limits.contains(value))
        refuse(QStringLiteral("%1 of %2 is outside %3 to %4")
                   .arg(what, QString::number(value, 'g', 6), QString::number(limits.minimum, 'g', 6),
                        QString::number(limits.maximum, 'g', 6)));
}
} // namespace

void CZunOutput::applyMimeData(const QMimeData* data)
{
    const auto* payload = qobject_cast<const ZunChannelMimeData*>(data);
    if (!payload)
        return;
    CEQManager* manager = m_zun->GetEQManager();

    // Everything is checked before anything is removed.
    if (payload->hasChannelSettings()) {
        try {
            checkGain(payload->getGain(), false);
        } catch (const std::logic_error& e) {
            refuse(QString::fromStdString(e.what()));
        }
        const CZunParam* delays = m_zun->GetChannelDelayParam();
        const double ms = payload->getDelay().milliseconds();
        if (delays && delays->Bound(ms) != ms)
            checkInside(QStringLiteral("delay"), ms, {delays->GetMin(), delays->GetMax()});
    }
    const QList<EQ_PARAMS> eqs = payload->getEQs();
    if (eqs.size() > CEQManager::MaxEQsPerChannel)
        refuse(QStringLiteral("%1 EQs, at most %2 per channel").arg(eqs.size()).arg(CEQManager::MaxEQsPerChannel));
    const QMap<int, QString> types = manager->GetEQTypeNames(false);
    for (const EQ_PARAMS& p : eqs) {
        if (!types.contains(p.type))
            refuse(QStringLiteral("EQ type %1 is unknown").arg(p.type));
        checkInside(QStringLiteral("EQ frequency"), p.frequency, manager->GetEQFrequencyLimits());
        checkInside(QStringLiteral("EQ gain"), p.gain, manager->GetEQGainLimits());
        checkInside(QStringLiteral("EQ quality"), p.quality, manager->GetEQQualityLimits());
    }
    const QMap<int, QString> passbands = manager->GetHOFTypeNames(false);
    for (const HO_FILTER_PARAMS& p : payload->getFilters()) {
        if (!passbands.contains(p.passband))
            refuse(QStringLiteral("filter type %1 is unknown").arg(p.passband));
        if (p.order < 1 || p.order > 10)
            refuse(QStringLiteral("filter order %1 is outside 1 to 10").arg(p.order));
        if (p.characteristic > 0xF)
            refuse(QStringLiteral("filter characteristic %1 is unknown").arg(p.characteristic));
        checkInside(QStringLiteral("filter frequency"), p.frequency, manager->GetEQFrequencyLimits());
        if (!(p.ripple >= 0.0 && p.ripple <= 25.5))
            refuse(QStringLiteral("filter ripple %1 is outside 0 to 25.5").arg(p.ripple));
    }

    // A list the DSP's free EQs can not hold would fail part way, leaving part of the old
    // and part of the new list: it is refused before the old one is removed.
    const bool replace = payload->replacesFilters();
    if (replace && IsValidSlot(m_slot)) {
        const QString refusal = manager->GetListRefusal(m_slot, eqs.size(), payload->getFilters(), true);
        if (!refusal.isEmpty())
            refuse(refusal);
    }
    // A strip's settings never take the crossover away: full range would reach the
    // high-frequency drivers.
    if (replace) {
        RemoveAllEQs();
        RemoveAllHighOrderFilters();
    }
    if (payload->hasChannelSettings())
        SetGainLinked(float(payload->getGain()), payload->getDelay(), payload->isMuted(), payload->isPhaseInverted());
    if (!replace)
        return;
    for (const EQ_PARAMS& p : eqs)
        allocateNewZunBiquad(p);
    for (const HO_FILTER_PARAMS& p : payload->getFilters())
        allocateNewHighOrderFilter(p);
}

void CZunOutput::SetGainLinked(float gain, CZunDelay delay, bool mute, bool invert)
{
    Q_UNUSED(delay); // a paste sets inversion, gain and mute; the delay stays
    checkGain(gain, false);
    m_zun->SetChannelPhaseInversion(m_output, invert);
    m_zun->SetChannelGain(gain, m_output);
    SetMute(mute);
}
