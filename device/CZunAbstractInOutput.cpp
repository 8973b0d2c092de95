#include "CZunAbstractInOutput.h"

#include "CRoutingManager.h"
#include "CZun.h"

#include <cmath>

CZunAbstractInOutput::CZunAbstractInOutput(CZun* zun, ZunC::AnalogOutputs output)
    : CZunLinkedFrequencyResponse(DefaultPoints, DefaultStart, DefaultEnd),
      m_identity(int(output)),
      m_isOutput(true),
      m_slot(quint16(output < 4 ? int(output) : int(output) + 2)),
      m_zun(zun)
{
}

CZunAbstractInOutput::CZunAbstractInOutput(CZun* zun, int source)
    : CZunLinkedFrequencyResponse(DefaultPoints, DefaultStart, DefaultEnd), m_identity(source), m_zun(zun)
{
    if (zun && zun->GetRoutingManager())
        m_slot = quint16(zun->GetRoutingManager()->GetChannelSlotOfSource(source));
}

CZunAbstractInOutput::~CZunAbstractInOutput() = default;

void CZunAbstractInOutput::applyGain(double dB, bool inverted)
{
    const double g = std::pow(10.0, dB / 20.0);
    setGainDelay(inverted ? -g : g, 0.0);
}

void CZunAbstractInOutput::notify_InOutputChanged(CZunAbstractInOutput*)
{
    recalculate();
    emit signal_Changed(this);
}
