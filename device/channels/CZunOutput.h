#pragma once

#include "CZunAbstractInOutput.h"

#include <QString>

class QMimeData;

// One analog output of a processor. Its response includes the response of the input that
// feeds it (linked by the routing manager through ConnectSource). Its gain factor follows
// the device's gain and polarity reports, not the setters.
class CZunOutput : public CZunAbstractInOutput
{
    Q_OBJECT
public:
    CZunOutput(CZun* zun, ZunC::AnalogOutputs output);
    ~CZunOutput() override;

    int GetNumber() const override { return int(m_output) + 1; }
    ZunC::AnalogOutputs GetOutput() const { return m_output; }
    double GetGain() const override;
    void SetGain(float gain) override;
    bool IsMuted() const override;
    bool IsMasterMuted() const override;
    void SetMute(bool mute) override;
    bool IsPhaseInverted() const override;
    void SetPhaseInverted(bool inverted);
    CZunDelay GetDelay() const override;
    void SetDelay(const CZunDelay& delay) override;
    QString GetDefaultName() const { return CZunAbstractFrequencyResponse::defaultName(); }
    // "Output 1" ... "Output 8"; empty for anything else.
    static QString defaultName(int output);

    // The source id feeding this output in the current routing (26: none).
    int GetSource() const;
    // Adds the source's input as a member of this response and follows its changes.
    void ConnectSource();

    // Copy and paste of the channel's settings (ZunChannelMimeData).
    bool canApplyMimeData(const QMimeData* data) const;
    QMimeData* createMimeData() const;
    // The whole payload is checked first: a refused payload leaves the channel as it was.
    void applyMimeData(const QMimeData* data);
    void SetGainLinked(float gain, CZunDelay delay, bool mute, bool invert);

public slots:
    void on_GainChanged(ZunC::AnalogOutputs output, double gain);
    void on_PhaseInvertChanged(ZunC::AnalogOutputs output, bool inverted);

private:
    // The device's reports of the gain come first to the strips that show them: the
    // response, and the plots that follow it, is recalculated once for a burst of reports,
    // in the next event-loop turn.
    void changedLater();

    ZunC::AnalogOutputs m_output;
    bool m_changePending = false;
};
