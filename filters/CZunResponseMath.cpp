#include "CZunResponseMath.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double Ln2 = 0.69314718055994530942;
constexpr double InvLn10 = 0.43429448190325182765;
constexpr double Sqrt2 = 1.41421356237309504880;
constexpr double Pi = 3.14159265358979323846;
constexpr double RadToDeg = 180.0 / Pi;
constexpr double TanPi8 = 0.41421356237309504880;

inline std::uint64_t bitsOf(double x)
{
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

inline double fromBits(std::uint64_t u)
{
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}

// Natural logarithm of a positive normal number: x = m 2^e with m in [sqrt(1/2), sqrt(2)),
// ln m = 2 atanh(s), s = (m - 1)/(m + 1), |s| <= 0.1716; the odd series up to s^13 leaves
// an error below 1e-12.
inline double lnPositive(double x)
{
    const std::uint64_t u = bitsOf(x);
    // The biased exponent as a double without an integer conversion: place it in the
    // mantissa of 2^52 and subtract.
    const double biased = fromBits((u >> 52) | 0x4330000000000000ULL) - 4503599627370496.0;
    double m = fromBits((u & 0x000FFFFFFFFFFFFFULL) | 0x3FF0000000000000ULL);
    double e = biased - 1023.0;
    const bool high = m > Sqrt2;
    m = high ? m * 0.5 : m;
    e = high ? e + 1.0 : e;
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    const double series =
        1.0 + s2 * (1.0 / 3 + s2 * (1.0 / 5 + s2 * (1.0 / 7 + s2 * (1.0 / 9 + s2 * (1.0 / 11 + s2 * (1.0 / 13))))));
    return e * Ln2 + 2.0 * s * series;
}

// atan(y/x) in radians for any signs; atan(0, 0) = 0. The ratio of the smaller to the larger
// magnitude is reduced below tan(pi/8) by atan(a) = pi/4 + atan((a - 1)/(a + 1)); the
// series up to t^23 then leaves an error below 1e-10.
inline double atan2Radians(double y, double x)
{
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const double big = ax > ay ? ax : ay;
    const double small = ax > ay ? ay : ax;
    const double a = big > 0.0 ? small / big : 0.0;
    const bool reduce = a > TanPi8;
    const double t = reduce ? (a - 1.0) / (a + 1.0) : a;
    const double t2 = t * t;
    double p = -1.0 / 23;
    p = p * t2 + 1.0 / 21;
    p = p * t2 - 1.0 / 19;
    p = p * t2 + 1.0 / 17;
    p = p * t2 - 1.0 / 15;
    p = p * t2 + 1.0 / 13;
    p = p * t2 - 1.0 / 11;
    p = p * t2 + 1.0 / 9;
    p = p * t2 - 1.0 / 7;
    p = p * t2 + 1.0 / 5;
    p = p * t2 - 1.0 / 3;
    p = p * t2 + 1.0;
    double r = t * p + (reduce ? Pi / 4 : 0.0);
    r = ay > ax ? Pi / 2 - r : r;
    r = x < 0.0 ? Pi - r : r;
    return y < 0.0 ? -r : r;
}

} // namespace

double CZunResponseMath::log10(double x)
{
    if (!(x >= MinimumPower))
        x = MinimumPower;
    return lnPositive(x) * InvLn10;
}

double CZunResponseMath::atan2Degrees(double y, double x)
{
    return atan2Radians(y, x) * RadToDeg;
}

double CZunResponseMath::wrapDegrees(double degrees)
{
    double r = std::remainder(degrees, 360.0);
    if (r <= -180.0)
        r += 360.0;
    return r;
}

void CZunResponseMath::evaluate(const Coefficients& c, const CZunFrequencyGrid::Exponentials& table,
                                double* magnitude, double* phase)
{
    const int n = table.cos1.size();
    const double* c1 = table.cos1.constData();
    const double* s1 = table.sin1.constData();
    const double* c2 = table.cos2.constData();
    const double* s2 = table.sin2.constData();
    const double b0 = c.b0, b1 = c.b1, b2 = c.b2, a1 = c.a1, a2 = c.a2;
    for (int i = 0; i < n; ++i) {
        // N = b0 + b1 e^-jw + b2 e^-j2w, D = 1 + a1 e^-jw + a2 e^-j2w.
        const double nr = b0 + b1 * c1[i] + b2 * c2[i];
        const double ni = -(b1 * s1[i] + b2 * s2[i]);
        const double dr = 1.0 + a1 * c1[i] + a2 * c2[i];
        const double di = -(a1 * s1[i] + a2 * s2[i]);
        double np = nr * nr + ni * ni;
        double dp = dr * dr + di * di;
        np = np > MinimumPower ? np : MinimumPower;
        dp = dp > MinimumPower ? dp : MinimumPower;
        double ratio = np / dp;
        ratio = ratio > MinimumPower ? ratio : MinimumPower;
        magnitude[i] = 10.0 * InvLn10 * lnPositive(ratio);
        // arg(N conj(D)) = arg N - arg D.
        double ph = atan2Radians(ni * dr - nr * di, nr * dr + ni * di) * RadToDeg;
        phase[i] = ph <= -180.0 ? ph + 360.0 : ph;
    }
}

void CZunResponseMath::accumulate(const double* magnitude, const double* phase, int n, double* sumMagnitude,
                                  double* sumPhase)
{
    for (int i = 0; i < n; ++i) {
        sumMagnitude[i] += magnitude[i];
        // Both terms lie in (-180, 180], so one correction either way suffices.
        double p = sumPhase[i] + phase[i];
        p = p > 180.0 ? p - 360.0 : p;
        p = p <= -180.0 ? p + 360.0 : p;
        sumPhase[i] = p;
    }
}
