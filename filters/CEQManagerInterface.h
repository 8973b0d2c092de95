#pragma once

#include "ZunFilterParams.h"

#include <QString>

class CZunBiquad;

// What the EQ and crossover-filter objects need of a device's EQ manager, and nothing more.
// The device model's CEQManager derives from this class, so a CEQManager* converts to it;
// the tests use a double of it.
//
// Contract:
// - Every call comes from the thread the manager lives in (the GUI thread); the filter
//   objects hold no lock while they call.
// - Failures are std::logic_error carrying the manager's own text; the filter objects pass
//   them on unchanged (CZunBiquad::writeToDevice first reloads itself from the device).
// - The limits are the closed ranges [minimum, maximum] of the EQ manager's frequency,
//   gain and quality ranges; the filter objects refuse values outside them. The frequency
//   range ends below half of GetSampleRate (CZunBiquadDesign::highestCorner).
// - GetSampleRate is the device's processing rate in Hz. A rate that is not positive makes
//   the objects design at 48 kHz instead.
// - CreateEQ with section set hands out a new neutral EQ object that is not listed by the
//   manager; the filter that asked for it owns it from then on and gives it back with
//   DeleteZunBiquad(object, true). CreateZunBiquad(number, true) gives a new object for an
//   EQ record that is already in use as a section (decoded from the device), likewise
//   owned by the caller.
class CEQManagerInterface
{
public:
    struct Limits
    {
        double minimum = 0.0;
        double maximum = 0.0;
        // A NaN is never inside.
        bool contains(double value) const { return value >= minimum && value <= maximum; }
    };

    virtual ~CEQManagerInterface() = default;

    virtual double GetSampleRate() = 0;
    virtual Limits GetEQFrequencyLimits() = 0;
    virtual Limits GetEQGainLimits() = 0;
    virtual Limits GetEQQualityLimits() = 0;

    // The frequency at which the response of a shelving EQ is designed (the device stores
    // shelf corners elsewhere than it shows them); other types come back unchanged.
    virtual double GetShelfResponseFrequency(const EQ_PARAMS& params) = 0;

    // EQ records: decode p.number into p; write p (neutral: gain 0, quality about 0.7,
    // frequency word kept); switch on or off (sets p.active).
    virtual void GetEQ(EQ_PARAMS& p) = 0;
    virtual void SetEQ(EQ_PARAMS& p, bool neutral) = 0;
    virtual void ActivateEQ(EQ_PARAMS& p) = 0;
    virtual void DeactivateEQ(EQ_PARAMS& p) = 0;

    // EQ objects.
    virtual CZunBiquad* CreateEQ(int& slot, bool& section) = 0;
    virtual CZunBiquad* CreateZunBiquad(int number, bool section) = 0;
    virtual void DeleteZunBiquad(CZunBiquad* biquad, bool write) = 0;

    // High-order filter records: decode p.number into p; write p.
    virtual void GetHighOrderFilter(HO_FILTER_PARAMS& p) = 0;
    virtual void SetHighOrderFilter(HO_FILTER_PARAMS& p) = 0;

    // Display texts; an unknown number throws.
    virtual QString GetStringForEQTypeSelection(quint16 type, bool shortName) = 0;
    virtual QString GetStringForHighOrderFilterTypeSelection(quint16 passband, bool shortName) = 0;
    virtual QString GetStringForHighOrderFilterCharacterisitcSelection(quint16 characteristic,
                                                                       bool shortName) = 0;
};

// The device model's EQ manager (device/); it derives from CEQManagerInterface.
class CEQManager;
