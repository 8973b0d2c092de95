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
    bool IsMuted() const override;
    QString GetName() const { return m_name.isEmpty() ? m_defaultName : m_name; }

    // The outputs this input feeds, filled by the routing manager's rebuild.
    QList<ZunC::AnalogOutputs> GetOutputs() const { return m_outputs; }
    void AddOutput(ZunC::AnalogOutputs output) { m_outputs.append(output); }

private:
    QString m_defaultName;
    QString m_name;
    int m_source;
    QList<ZunC::AnalogOutputs> m_outputs;
};
