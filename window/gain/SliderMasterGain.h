#pragma once

#include "GainStripScales.h"
#include "ZunGainSlider.h"

// The gain fader of the master strip (range and ticks from the strip's setGainRange).
class SliderMasterGain : public ZunGainSlider
{
public:
    explicit SliderMasterGain(QWidget* parent = nullptr) : ZunGainSlider(QSize(16, 24), parent)
    {
        setGainScale(GainStripScales::masterGain(-18.0, 6.0), 5.0, 1, 2, 3);
    }
};
