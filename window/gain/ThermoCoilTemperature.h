#pragma once

#include "GainStripScales.h"
#include "ZunMeterThermo.h"

#include <QLinearGradient>

// The coil temperature of an output's loudspeaker, 0 to 100.
class ThermoCoilTemperature : public ZunMeterThermo
{
public:
    explicit ThermoCoilTemperature(QWidget* parent = nullptr)
        : ZunMeterThermo(GainStripScales::coilTemperature(), fill(), parent)
    {
    }

private:
    static QBrush fill()
    {
        QLinearGradient g(0, 0, 12, 60);
        g.setColorAt(0.1, QColor(QStringLiteral("red")));
        g.setColorAt(0.5, QColor(0, 0, 180));
        return QBrush(g);
    }
};
