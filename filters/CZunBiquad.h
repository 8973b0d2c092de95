#pragma once

#include "CEQManagerInterface.h"
#include "CZunAbstractFrequencyResponse.h"
#include "CZunBiquadDesign.h"
#include "CZunResponseMath.h"
#include "ZunFilterParams.h"

#include <QMetaType>

class CZunHighOrderFilter;

// One EQ of a device's EQ bank (or one section of a crossover filter). It keeps the EQ's
// parameters and its response on the grid, computed at the device's sample rate (see
// CZunBiquadDesign for the designs). The setters change the object only; writeToDevice and
// setBypass reach the device through the EQ manager. The manager creates, numbers and
// deletes these objects.
class CZunBiquad : public CZunAbstractFrequencyResponse
{
    Q_OBJECT
public:
    using Type = CZunBiquadDesign::Type;

    CZunBiquad(CEQManagerInterface* manager, const EQ_PARAMS& params, const bool& section,
               QObject* parent = nullptr);

    quint16 getNumber() const { return m_number; }
    quint16 getBank() const { return m_bank; }
    quint16 getType() const { return m_type; }
    double getFrequency() const { return m_frequency; }
    double getGain() const { return m_gain; }
    double getQuality() const { return m_quality; }
    bool isBypassed() const { return m_bypass; }
    bool getFlag() const { return m_flag; }
    bool isFilterSection() const { return m_section; }

    // Item flags of the gain and quality cells of the EQ table.
    Qt::ItemFlags gainFlags() const;
    Qt::ItemFlags qualityFlags() const;

    // The object's values as a record (active = not bypassed).
    EQ_PARAMS params() const;
    // The coefficients the response is computed from (pass-through when bypassed).
    CZunResponseMath::Coefficients coefficients() const;
    double sampleRate() const;

    void setType(quint16 type);
    void setFrequency(float frequency);
    void setGain(float gain);
    void setQuality(float quality);
    void setBank(int bank);
    void setBypass(bool bypass);

    // Reloads the parameters from the device's image, renames the object after its type and
    // frequency and recalculates.
    void updateFromDevice();
    // Writes the EQ through the manager; neutral asks for a neutral write. When the manager
    // refuses, the object reloads itself from the device and the error goes on.
    void writeToDevice(bool neutral);

public slots:
    void recalculate() override;

signals:
    void signal_Changed(CZunBiquad* biquad);

private:
    friend class CZunHighOrderFilter;
    // A crossover filter sets its sections' designs directly (no range checks, no signals).
    void setDesign(quint16 type, double frequency, double quality, quint16 bank);
    void setBypassSilently(bool bypass) { m_bypass = bypass; }
    void changed();

    CEQManagerInterface* m_manager;
    quint16 m_number;
    quint16 m_bank;
    quint16 m_type;
    double m_frequency;
    double m_gain;
    double m_quality;
    bool m_bypass;
    bool m_flag;
    bool m_section;
};

Q_DECLARE_METATYPE(CZunBiquad*)
