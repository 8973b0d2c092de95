#include "CZunOutput.h"

#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunInput.h"

CZunOutput::CZunOutput(CZun* zun, ZunC::AnalogOutputs output)
    : CZunAbstractInOutput(zun, output), m_output(output), m_defaultName(defaultName(int(output))),
      m_name(m_defaultName)
{
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

double CZunOutput::GetGain() const
{
    return m_zun->GetChannelGain(m_output);
}

bool CZunOutput::IsMuted() const
{
    return m_zun->IsChannelMuted(m_output);
}

bool CZunOutput::IsPhaseInverted() const
{
    return m_zun->IsChannelPhaseInverted(m_output);
}

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
    applyGain(gain, IsPhaseInverted());
    emit signal_Changed(this);
}

void CZunOutput::on_PhaseInvertChanged(ZunC::AnalogOutputs output, bool inverted)
{
    if (output != m_output)
        return;
    applyGain(GetGain(), inverted);
    emit signal_Changed(this);
}
