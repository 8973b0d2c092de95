#include "CZunInput.h"

#include "CRoutingManager.h"
#include "CZun.h"

CZunInput::CZunInput(CZun* zun, int source) : CZunAbstractInOutput(zun, source), m_source(source)
{
    try {
        m_defaultName = zun->GetRoutingManager()->GetInputName(source);
    } catch (const std::exception&) {
        // A firmware without the text leaves the name empty; the routing manager reports
        // outdated firmware.
    }
}

int CZunInput::GetSource() const
{
    return m_zun->GetRoutingManager()->GetSourceOf(m_source);
}

double CZunInput::GetGain() const
{
    const int path = GetSource();
    return path >= 0 && path < 8 ? m_zun->GetInputPathGain(ZunC::InputPaths(path)) : 0.0;
}

bool CZunInput::IsMuted() const
{
    const int path = GetSource();
    return path >= 0 && path < 8 ? m_zun->IsInputPathMuted(ZunC::InputPaths(path)) : false;
}
