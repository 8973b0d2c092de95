#pragma once

#include <qwt_scale_div.h>
#include <qwt_slider.h>

// The vertical gain fader of the gain page's strips: 0.1 dB a step, a groove, no scale
// until the strip asks for one. The strips' named faders only choose the scale.
class ZunGainSlider : public QwtSlider
{
public:
    ZunGainSlider(const QSize& handle, QWidget* parent);

    // Range and ticks from the division, 0.1 dB a step, pageDb a page; tick lengths minor,
    // medium and major.
    void setGainScale(const QwtScaleDiv& div, double pageDb, int minor, int medium, int major);
    // True while the operator holds the handle.
    bool isHeld() const { return m_held; }

private:
    bool m_held = false;
};
