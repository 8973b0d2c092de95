#pragma once

#include "CZunAbstractInOutput.h"

#include <QString>

// One analog output of a processor. Its response includes the response of the input that
// feeds it (linked by the routing manager through ConnectSource).
class CZunOutput : public CZunAbstractInOutput
{
    Q_OBJECT
public:
    CZunOutput(CZun* zun, ZunC::AnalogOutputs output);
    ~CZunOutput() override;

    int GetNumber() const override { return int(m_output) + 1; }
    ZunC::AnalogOutputs GetOutput() const { return m_output; }
    double GetGain() const override;
    bool IsMuted() const override;
    bool IsPhaseInverted() const;
    QString GetName() const { return m_name.isEmpty() ? m_defaultName : m_name; }
    QString GetDefaultName() const { return m_defaultName; }
    // "Output 1" ... "Output 8"; empty for anything else.
    static QString defaultName(int output);

    // The source id feeding this output in the current routing (26: none).
    int GetSource() const;
    // Adds the source's input as a member of this response and follows its changes.
    void ConnectSource();

public slots:
    void on_GainChanged(ZunC::AnalogOutputs output, double gain);
    void on_PhaseInvertChanged(ZunC::AnalogOutputs output, bool inverted);

private:
    ZunC::AnalogOutputs m_output;
    QString m_defaultName;
    QString m_name;
};
