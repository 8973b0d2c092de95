#pragma once

#include "GainStripScales.h"
#include "ZunMeterThermo.h"

// The limiter's gain reduction of an output, 0 dB at the top growing down to 12 dB.
class ThermoGainReduction : public ZunMeterThermo
{
public:
    explicit ThermoGainReduction(QWidget* parent = nullptr)
        : ZunMeterThermo(GainStripScales::gainReduction(), QBrush(QColor(QStringLiteral("red"))), parent)
    {
        // the bar hangs from 0 dB, however the inverted scale lies
        setOriginMode(QwtThermo::OriginCustom);
        setOrigin(0.0);
        setValue(0.0);
    }
    QSize minimumSizeHint() const override { return hintWithoutScale(40); }
};
