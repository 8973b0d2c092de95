#pragma once

#include "GainStripScales.h"
#include "ZunMeterThermo.h"

// The level meter of an input strip, -48 to 0 dBFS.
class ThermoInputLevel : public ZunMeterThermo
{
public:
    explicit ThermoInputLevel(QWidget* parent = nullptr)
        : ZunMeterThermo(GainStripScales::level(), QBrush(QColor(0, 255, 0)), parent)
    {
    }
};
