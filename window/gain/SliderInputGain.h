#pragma once

#include "GainStripScales.h"
#include "ZunGainSlider.h"

// The gain fader of the input strip.
class SliderInputGain : public ZunGainSlider
{
public:
    explicit SliderInputGain(QWidget* parent = nullptr) : ZunGainSlider(QSize(16, 12), parent)
    {
        setGainScale(GainStripScales::channelGain(-18.0, 6.0), 1.0, 1, 1, 1);
    }
};
