#include "CZunInput.h"

#include "CRoutingManager.h"
#include "CZun.h"

#include <cmath>
#include <stdexcept>

CZunInput::CZunInput(CZun* zun, int source) : CZunAbstractInOutput(zun, source), m_source(source)
{
    try {
        setDefaultName(zun->GetRoutingManager()->GetInputName(source));
    } catch (const std::exception&) {
        // A firmware without the text leaves the name empty; the routing manager reports
        // outdated firmware.
    }
}

int CZunInput::GetSource() const
{
    return m_zun->GetRoutingManager()->GetSourceOf(m_source);
}

ZunC::InputPaths CZunInput::path(const char* caller) const
{
    const int p = GetSource();
    if (p < 0 || p > 7)
        throw std::logic_error(QStringLiteral("CZunInput::%1(): input %2 is carried by no input path.")
                                   .arg(QLatin1String(caller))
                                   .arg(m_source)
                                   .toStdString());
    return ZunC::InputPaths(p);
}

double CZunInput::GetGain() const
{
    const int p = GetSource();
    return p >= 0 && p < 8 ? m_zun->GetInputPathGain(ZunC::InputPaths(p)) : 0.0;
}

void CZunInput::SetGain(float gain)
{
    checkGain(gain, true);
    m_zun->SetInputPathGain(gain, path("SetGain"));
    setGainDelay(std::pow(10.0, double(gain) / 20.0), 0.0);
    emit signal_Changed(this);
}

bool CZunInput::IsMuted() const
{
    const int p = GetSource();
    return p >= 0 && p < 8 ? m_zun->IsInputPathMuted(ZunC::InputPaths(p)) : false;
}

void CZunInput::SetMute(bool mute) { m_zun->MuteInputPath(path("SetMute"), mute); }

bool CZunInput::IsMasterMuted() const
{
    // Paths A-D are DSP 1's, E-H DSP 2's.
    const int p = GetSource();
    return p >= 0 && p < 8 ? masterMutedOnDsp(p / 4) : masterMutedOnDsp(0) || masterMutedOnDsp(1);
}

CZunDelay CZunInput::GetDelay() const { return m_zun->GetInputPathDelay(path("GetDelay")); }

void CZunInput::SetDelay(const CZunDelay& delay) { m_zun->SetInputPathDelay(delay, path("SetDelay")); }
