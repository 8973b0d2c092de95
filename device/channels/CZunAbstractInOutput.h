#pragma once

#include "CZunDelay.h"
#include "CZunLinkedFrequencyResponse.h"
#include "ZunC.h"
#include "ZunFilterParams.h"

#include <QList>
#include <QPointer>

class CZun;
class CZunBiquad;
class CZunHighOrderFilter;

// A signal path of a processor with a frequency response: an analog output or an input
// (a routing source). Its response is the product of its EQs' and crossover filters'
// responses times its gain factor. The routing manager creates and deletes these objects;
// they own no device data: values are read from and sent through the device object, the
// EQ and filter objects belong to the device's EQ manager. GUI thread only.
//
// Channel slots: every EQ and filter belongs to one of 12 slots (0-5 on DSP 0, 6-11 on
// DSP 1): outputs 0-3 are slots 0-3, outputs 4-7 slots 6-9; the inputs routed to routing
// positions 0, 1, 4, 5 get slots 4, 5, 10, 11; any other input has none (255).
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
    virtual void SetGain(float gain) = 0;
    virtual bool IsMuted() const = 0;
    virtual void SetMute(bool mute) = 0;
    // Silenced by the master mute of the DSP that carries this channel.
    virtual bool IsMasterMuted() const = 0;
    virtual bool IsPhaseInverted() const { return false; }
    virtual CZunDelay GetDelay() const = 0;
    virtual void SetDelay(const CZunDelay& delay) = 0;

    bool IsOutput() const { return m_isOutput; }
    quint16 GetSlot() const { return m_slot; }
    CZun* GetDevice() const { return m_zun; }
    static bool IsValidSlot(int slot) { return slot >= 0 && slot < 12; }
    double GetSampleRate() const;

    // A new neutral EQ / a new default crossover filter on this channel (and on the
    // partner slot when the DSPs are linked). Errors of the EQ manager pass unchanged.
    CZunBiquad* NewEQ();
    CZunHighOrderFilter* NewHighOrderFilter();
    QList<QPointer<CZunBiquad>> GetEQList() const;
    QList<QPointer<CZunHighOrderFilter>> GetHighOrderFilterList() const;
    void RemoveAllEQs();
    void RemoveAllHighOrderFilters();

    // Sets the gain factor 10^(dB/20), negated when inverted, with no delay.
    void applyGain(double dB, bool inverted = false);

signals:
    void signal_Changed(CZunAbstractInOutput*);
    void newEQ(CZunBiquad*);
    void EQToBeDeleted(CZunBiquad*);
    void newFilter(CZunHighOrderFilter*);
    void filterToBeDeleted(CZunHighOrderFilter*);

public slots:
    void notifyNewEQ(CZunBiquad* biquad);
    void notifyEQChanged(CZunBiquad*);
    void notifyEQToBeDeleted(QObject* object);
    void notifyNewHighOrderFilter(CZunHighOrderFilter* filter);
    void notifyHighOrderFilterChanged(CZunHighOrderFilter*);
    void notifyHighOrderFilterToBeDeleted(QObject* object);
    void notify_InOutputChanged(CZunAbstractInOutput*);
    void allocateNewHighOrderFilter(HO_FILTER_PARAMS p);
    void allocateNewZunBiquad(EQ_PARAMS p);

protected:
    // True when this object is the channel of slot (inputs refresh their slot first).
    bool ownsSlot(quint16 bank);
    void changed();
    // The gain check of both kinds; fullStop ends the text with one (inputs).
    void checkGain(double gain, bool fullStop) const;
    // The master mute of DSP 0 or 1; a one-board processor's only DSP mutes every channel.
    bool masterMutedOnDsp(int dsp) const;

    int m_identity = 0; // source id of an input, output index of an output
    bool m_isOutput = false;
    quint16 m_slot = NoSlot;
    CZun* m_zun = nullptr;

private:
    void connectManager();
};
