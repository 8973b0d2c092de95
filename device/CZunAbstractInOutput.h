#pragma once

#include "CZunLinkedFrequencyResponse.h"
#include "ZunC.h"

class CZun;

// A signal path of a processor with a frequency response: an analog output or an input
// (a routing source). Its response is the product of its members' responses times its gain
// factor. The routing manager creates and deletes these objects; they own no device data.
class CZunAbstractInOutput : public CZunLinkedFrequencyResponse
{
    Q_OBJECT
public:
    static constexpr quint16 NoSlot = 255;

    CZunAbstractInOutput(CZun* zun, ZunC::AnalogOutputs output);
    CZunAbstractInOutput(CZun* zun, int source);
    ~CZunAbstractInOutput() override;

    virtual int GetNumber() const = 0;
    virtual double GetGain() const = 0;
    virtual bool IsMuted() const = 0;

    bool IsOutput() const { return m_isOutput; }
    quint16 GetSlot() const { return m_slot; }
    CZun* GetDevice() const { return m_zun; }
    static bool IsValidSlot(int slot) { return slot >= 0 && slot < 12; }

    // Sets the gain factor 10^(dB/20), negated when inverted, with no delay.
    void applyGain(double dB, bool inverted = false);

signals:
    void signal_Changed(CZunAbstractInOutput*);

public slots:
    void notify_InOutputChanged(CZunAbstractInOutput*);

protected:
    int m_identity = 0; // source id of an input, output index of an output
    bool m_isOutput = false;
    quint16 m_slot = NoSlot;
    CZun* m_zun = nullptr;
};
