#pragma once

#include "GainStripScales.h"
#include "ZunGainSlider.h"

// The gain fader of the output strip (range and ticks from the strip's setGainRange).
class SliderChannelGain : public ZunGainSlider
{
public:
    explicit SliderChannelGain(QWidget* parent = nullptr) : ZunGainSlider(QSize(16, 12), parent)
    {
        setGainScale(GainStripScales::channelGain(-18.0, 6.0), 1.0, 1, 1, 1);
    }
};
