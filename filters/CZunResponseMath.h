#pragma once

#include "CZunFrequencyGrid.h"

// The inner loops of the response calculation. They run for every point of every response
// of a device after each change of its image, so they avoid library transcendentals: the
// logarithm and the arc tangent below are polynomial evaluations after exact range
// reduction, accurate to about 1e-12 (dB: 1e-11, degrees: 1e-8), far inside what a plot or
// the tests ask for, and the loops compile to straight-line code.
class CZunResponseMath
{
public:
    // Normalised biquad H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2);
    // a first-order section has b2 = a2 = 0.
    struct Coefficients
    {
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    };

    // Magnitudes are floored here (|H| of 1e-15, -300 dB) so that an exact zero never turns
    // into minus infinity.
    static constexpr double MinimumPower = 1e-30;

    // Magnitude (dB) and phase (degrees, (-180, 180]) of H at every point of the table.
    static void evaluate(const Coefficients& c, const CZunFrequencyGrid::Exponentials& table,
                         double* magnitude, double* phase);

    // Adds a response (dB, wrapped degrees) onto a running sum; the phase stays wrapped.
    static void accumulate(const double* magnitude, const double* phase, int n, double* sumMagnitude,
                           double* sumPhase);

    // Wraps a phase in degrees into (-180, 180].
    static double wrapDegrees(double degrees);

    // Exposed for the tests.
    static double log10(double x);
    static double atan2Degrees(double y, double x);
};
