#pragma once

#include "CZunAbstractInOutput.h"

#include <QList>
#include <QString>

// One routing source that feeds at least one output. Its values are those of the
// processor's input path that carries the source (the routing manager's GetSourceOf).
class CZunInput : public CZunAbstractInOutput
{
    Q_OBJECT
public:
    CZunInput(CZun* zun, int source);

    int GetNumber() const override { return m_source + 1; }
    // The source id (1-23).
    int GetInputPath() const { return m_source; }
    // The processor's input path 0-7 of the source; 99 when it has none.
    int GetSource() const;
    double GetGain() const override;
    // Sent, and the response follows at once.
    void SetGain(float gain) override;
    bool IsMuted() const override;
    // A source without an input path is silenced while either DSP is muted.
    bool IsMasterMuted() const override;
    void SetMute(bool mute) override;
    CZunDelay GetDelay() const override;
    void SetDelay(const CZunDelay& delay) override;

    // The outputs this input feeds, filled by the routing manager's rebuild.
    QList<ZunC::AnalogOutputs> GetOutputs() const { return m_outputs; }
    void AddOutput(ZunC::AnalogOutputs output) { m_outputs.append(output); }

private:
    // The input path, or throws when the source has none (nothing to read or set).
    ZunC::InputPaths path(const char* caller) const;

    int m_source;
    QList<ZunC::AnalogOutputs> m_outputs;
};
