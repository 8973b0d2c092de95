#include "CZunBiquadDesign.h"

#include <cmath>

bool CZunBiquadDesign::isFirstOrder(quint16 type)
{
    return type == LowPass6 || type == HighPass6 || type == LowShelf6 || type == HighShelf6 || type == AllPass6;
}

bool CZunBiquadDesign::usesGain(quint16 type)
{
    return type >= Peak && type <= HighShelf12;
}

bool CZunBiquadDesign::usesQuality(quint16 type)
{
    return type < TypeCount && !isFirstOrder(type);
}

bool CZunBiquadDesign::isShelf(quint16 type)
{
    return type >= LowShelf6 && type <= HighShelf12;
}

double CZunBiquadDesign::validSampleRate(double sampleRate)
{
    return (std::isfinite(sampleRate) && sampleRate > 0.0) ? sampleRate : FallbackSampleRate;
}

double CZunBiquadDesign::clampCorner(double frequency, double sampleRate)
{
    const double fs = validSampleRate(sampleRate);
    if (!(frequency >= MinimumFrequency)) // also catches NaN
        return MinimumFrequency;
    return frequency < 0.5 * fs ? frequency : MaximumCornerRatio * fs;
}

double CZunBiquadDesign::highestCorner(double sampleRate, double step)
{
    const double half = 0.5 * validSampleRate(sampleRate);
    if (!(step > 0.0))
        return std::nextafter(half, 0.0);
    return (std::ceil(half / step) - 1.0) * step;
}

CZunResponseMath::Coefficients CZunBiquadDesign::design(quint16 type, double frequency, double gainDb,
                                                          double quality, double sampleRate)
{
    const double fs = validSampleRate(sampleRate);
    const double f = clampCorner(frequency, fs);
    const double q = (quality >= MinimumQuality) ? quality : MinimumQuality;
    const double g = std::isfinite(gainDb) ? gainDb : 0.0;
    const double K = std::tan(M_PI * f / fs);
    const double A = std::pow(10.0, g / 40.0);

    // Numerator and denominator in powers of z^-1, before normalising by a0.
    double b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0;

    // Second-order prototype (n2 s^2 + n1 s + n0) / (d2 s^2 + d1 s + d0) with
    // s = (1 - z^-1) / (K (1 + z^-1)); multiplied through by K^2 (1 + z^-1)^2.
    auto bilinear2 = [&](double n2, double n1, double n0, double d2, double d1, double d0) {
        const double K2 = K * K;
        b0 = n2 + n1 * K + n0 * K2;
        b1 = 2.0 * (n0 * K2 - n2);
        b2 = n2 - n1 * K + n0 * K2;
        a0 = d2 + d1 * K + d0 * K2;
        a1 = 2.0 * (d0 * K2 - d2);
        a2 = d2 - d1 * K + d0 * K2;
    };
    // First-order prototype (n1 s + n0) / (d1 s + d0), multiplied through by K (1 + z^-1).
    auto bilinear1 = [&](double n1, double n0, double d1, double d0) {
        b0 = n1 + n0 * K;
        b1 = n0 * K - n1;
        a0 = d1 + d0 * K;
        a1 = d0 * K - d1;
    };

    const double sqrtA = std::sqrt(A);
    switch (type) {
    case LowPass6:
        bilinear1(0, 1, 1, 1);
        break;
    case LowPass12:
        bilinear2(0, 0, 1, 1, 1 / q, 1);
        break;
    case HighPass6:
        bilinear1(1, 0, 1, 1);
        break;
    case HighPass12:
        bilinear2(1, 0, 0, 1, 1 / q, 1);
        break;
    case Peak:
        bilinear2(1, A / q, 1, 1, 1 / (A * q), 1);
        break;
    case LowShelf6:
        bilinear1(1, A, 1, 1 / A);
        break;
    case LowShelf12:
        bilinear2(A, A * sqrtA / q, A * A, A, sqrtA / q, 1);
        break;
    case HighShelf6:
        bilinear1(A * A, A, 1, A);
        break;
    case HighShelf12:
        bilinear2(A * A, A * sqrtA / q, A, 1, sqrtA / q, A);
        break;
    case AllPass6:
        bilinear1(-1, 1, 1, 1);
        break;
    case AllPass12:
        bilinear2(1, -1 / q, 1, 1, 1 / q, 1);
        break;
    default:
        return CZunResponseMath::Coefficients();
    }

    CZunResponseMath::Coefficients c;
    c.b0 = b0 / a0;
    c.b1 = b1 / a0;
    c.b2 = b2 / a0;
    c.a1 = a1 / a0;
    c.a2 = a2 / a0;
    return c;
}
