#pragma once

#include "GainStripScales.h"
#include "ZunMeterThermo.h"

// The level meter of an output strip, -48 to 0 dBFS.
class ThermoOutputLevel : public ZunMeterThermo
{
public:
    explicit ThermoOutputLevel(QWidget* parent = nullptr)
        : ZunMeterThermo(GainStripScales::level(), QBrush(QColor(QStringLiteral("limegreen"))), parent)
    {
    }
    QSize minimumSizeHint() const override { return hintWithoutScale(80); }
};
