#pragma once

#include "CZunResponseMath.h"

#include <QtGlobal>

// Coefficients of the eleven EQ types, designed by the bilinear transform with the corner
// pre-warped: the analog prototype normalised to 1 rad/s is evaluated at
// s = (1 - z^-1) / (K (1 + z^-1)), K = tan(pi f / fs), so the digital response at f equals
// the analog one at the corner, and H(e^jw) = Ha(j tan(w/2) / K) everywhere.
//
// Prototypes (A = 10^(gain/40), so A^2 is the linear gain; Q the quality):
//   0 low pass 6 dB     1 / (s + 1)
//   1 low pass 12 dB    1 / (s^2 + s/Q + 1)
//   2 high pass 6 dB    s / (s + 1)
//   3 high pass 12 dB   s^2 / (s^2 + s/Q + 1)
//   4 peak              (s^2 + s A/Q + 1) / (s^2 + s/(A Q) + 1)
//   5 low shelf 6 dB    (s + A) / (s + 1/A)
//   6 low shelf 12 dB   A (s^2 + s sqrt(A)/Q + A) / (A s^2 + s sqrt(A)/Q + 1)
//   7 high shelf 6 dB   A (A s + 1) / (s + A)
//   8 high shelf 12 dB  A (A s^2 + s sqrt(A)/Q + 1) / (s^2 + s sqrt(A)/Q + A)
//   9 all pass 6 dB     (1 - s) / (1 + s)
//  10 all pass 12 dB    (s^2 - s/Q + 1) / (s^2 + s/Q + 1)
// The second-order forms are those of the well-known audio-EQ cookbook. Every shelf (6 and
// 12 dB) has half its gain in dB at the corner, the peak its full gain; the all passes
// turn by -90 (6 dB) and -180 degrees (12 dB) at the corner, starting at 0 at DC.
//
// Robustness: a corner below half the sample rate is designed as it is, however close to
// it (crossover sections lie there by design); a corner at or above half the sample rate
// has no bilinear image and is designed at MaximumCornerRatio x fs, one below
// MinimumFrequency at MinimumFrequency. Such corners never come from an editor, a file or
// an import (highestCorner is the top of every accepted range); a quality below
// MinimumQuality is raised to it, a non-positive or non-finite rate designs at 48 kHz, and
// an unknown type is a pass-through.
class CZunBiquadDesign
{
public:
    enum Type : quint16 {
        LowPass6 = 0,
        LowPass12 = 1,
        HighPass6 = 2,
        HighPass12 = 3,
        Peak = 4,
        LowShelf6 = 5,
        LowShelf12 = 6,
        HighShelf6 = 7,
        HighShelf12 = 8,
        AllPass6 = 9,
        AllPass12 = 10,
        TypeCount = 11
    };

    static constexpr double MaximumCornerRatio = 0.499;
    static constexpr double MinimumFrequency = 1.0;
    static constexpr double MinimumQuality = 0.01;
    static constexpr double FallbackSampleRate = 48000.0;

    static bool isFirstOrder(quint16 type);
    static bool usesGain(quint16 type);    // peak and shelves
    static bool usesQuality(quint16 type); // every second-order type
    static bool isShelf(quint16 type);

    static double clampCorner(double frequency, double sampleRate);
    // The highest corner an editor, a file or an import may set: the largest multiple of
    // step (Hz; 0 for any value) below half the sample rate.
    static double highestCorner(double sampleRate, double step);
    static double validSampleRate(double sampleRate);

    static CZunResponseMath::Coefficients design(quint16 type, double frequency, double gainDb, double quality,
                                                 double sampleRate);
};
