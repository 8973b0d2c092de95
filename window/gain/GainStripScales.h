#pragma once

#include <qwt_scale_div.h>

class QwtAbstractScaleDraw;
class QwtAbstractScale;

// The scale divisions of the gain page's sliders and meters, as plain functions so that
// their tick rules can be checked without a display.
class GainStripScales
{
public:
    // Channel gain (inputs, outputs): major ticks at the multiples of 3 dB from
    // 3 x trunc(min/3) to 3 x trunc(max/3), medium ticks at the other whole dB inside the
    // range, no minor ticks. With more than maxMajors labels (a wide range on a short
    // fader: -80 to 12 dB has 31) the majors go to the multiples of 6, 12, 24 ... dB, the
    // first that fit, with medium ticks at the half steps between them.
    static QwtScaleDiv channelGain(double min, double max, int maxMajors = 1 << 30);
    // Master gain: major at the multiples of 24 dB, medium at the odd multiples of 12 dB,
    // minor at the odd multiples of 6 dB, each inside the range.
    static QwtScaleDiv masterGain(double min, double max);
    // Input and output level, -48 to 0 dBFS.
    static QwtScaleDiv level();
    // Limiter gain reduction, 12 dB (bottom) to 0 (top).
    static QwtScaleDiv gainReduction();
    // Coil temperature, 0 to 100.
    static QwtScaleDiv coilTemperature();

    // The look every strip scale shares: "Helvetica" 8 point, spacing 1 and the given
    // tick lengths (minor, medium, major).
    static void style(QwtAbstractScale* scale, QwtAbstractScaleDraw* draw, int minor, int medium, int major);
};
