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
constexpr double MinimumPowerValue = CZunResponseMath::MinimumPower;

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

// Splits a positive normal number into m in [1, 2) and its exponent (as a double, without
// an integer conversion: the biased exponent is placed in the mantissa of 2^52).
inline double mantissa(double x, double& exponent)
{
    const std::uint64_t u = bitsOf(x);
    exponent = fromBits((u >> 52) | 0x4330000000000000ULL) - (4503599627370496.0 + 1023.0);
    return fromBits((u & 0x000FFFFFFFFFFFFFULL) | 0x3FF0000000000000ULL);
}

// ln(x / y) for positive normal numbers, with one division: x = mx 2^ex, y = my 2^ey, the
// mantissas moved by a factor 2 where needed so that mx / my lies in [sqrt(1/2), sqrt(2)];
// then ln(mx / my) = 2 atanh(s), s = (mx - my) / (mx + my), |s| <= 0.1716, and the odd
// series up to s^13 leaves an error below 1e-12.
// Selects rather than branches, so that the loops calling this stay straight-line.
inline double lnRatio(double x, double y)
{
    double ex, ey;
    double mx = mantissa(x, ex);
    double my = mantissa(y, ey);
    const bool high = mx > Sqrt2 * my;
    const bool low = mx * Sqrt2 < my;
    // y = (2 my) 2^(ey - 1), likewise for x.
    my *= high ? 2.0 : 1.0;
    ey -= high ? 1.0 : 0.0;
    mx *= low ? 2.0 : 1.0;
    ex -= low ? 1.0 : 0.0;
    const double s = (mx - my) / (mx + my);
    const double s2 = s * s;
    const double series =
        1.0 + s2 * (1.0 / 3 + s2 * (1.0 / 5 + s2 * (1.0 / 7 + s2 * (1.0 / 9 + s2 * (1.0 / 11 + s2 * (1.0 / 13))))));
    return (ex - ey) * Ln2 + 2.0 * s * series;
}

// atan2(y, x) in radians for any signs; atan2(0, 0) = 0. With a = small / big of the two
// magnitudes, a above tan(pi/8) is reduced by atan(a) = pi/4 + atan((a - 1)/(a + 1)), i.e.
// t = (small - big) / (small + big), one division either way; |t| <= tan(pi/8) and the
// series up to t^23 leaves an error below 1e-10.
inline double atan2Radians(double y, double x)
{
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const double big = ax > ay ? ax : ay;
    const double small = ax > ay ? ay : ax;
    const bool reduce = small > TanPi8 * big;
    const double numerator = reduce ? small - big : small;
    double denominator = reduce ? small + big : big;
    denominator = denominator > 0.0 ? denominator : 1.0;
    const double t = numerator / denominator;
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

// On x86-64 the loops are also compiled for AVX2 with FMA, chosen at load time when the
// processor has them. Not under ThreadSanitizer: the loader runs the clone resolver
// before the sanitizer's run-time is up, and its instrumented code crashes there.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define ZUN_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define ZUN_VECTOR_CLONES
#endif

ZUN_VECTOR_CLONES
void evaluateLoop(int n, const double* c1, const double* s1, const double* c2, const double* s2, double b0,
                  double b1, double b2, double a1, double a2, double* __restrict magnitude,
                  double* __restrict phase)
{
    for (int i = 0; i < n; ++i) {
        // N = b0 + b1 e^-jw + b2 e^-j2w, D = 1 + a1 e^-jw + a2 e^-j2w.
        const double nr = b0 + b1 * c1[i] + b2 * c2[i];
        const double ni = -(b1 * s1[i] + b2 * s2[i]);
        const double dr = 1.0 + a1 * c1[i] + a2 * c2[i];
        const double di = -(a1 * s1[i] + a2 * s2[i]);
        double np = nr * nr + ni * ni;
        double dp = dr * dr + di * di;
        np = np > MinimumPowerValue ? np : MinimumPowerValue;
        dp = dp > MinimumPowerValue ? dp : MinimumPowerValue;
        magnitude[i] = 10.0 * InvLn10 * lnRatio(np, dp);
        // arg(N conj(D)) = arg N - arg D.
        const double ph = atan2Radians(ni * dr - nr * di, nr * dr + ni * di) * RadToDeg;
        phase[i] = ph <= -180.0 ? ph + 360.0 : ph;
    }
}

ZUN_VECTOR_CLONES
void accumulateLoop(const double* magnitude, const double* phase, int n, double* __restrict sumMagnitude,
                    double* __restrict sumPhase)
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

} // namespace

double CZunResponseMath::log10(double x)
{
    if (!(x >= MinimumPower))
        x = MinimumPower;
    return lnRatio(x, 1.0) * InvLn10;
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
    evaluateLoop(table.cos1.size(), table.cos1.constData(), table.sin1.constData(), table.cos2.constData(),
                 table.sin2.constData(), c.b0, c.b1, c.b2, c.a1, c.a2, magnitude, phase);
}

void CZunResponseMath::accumulate(const double* magnitude, const double* phase, int n, double* sumMagnitude,
                                  double* sumPhase)
{
    accumulateLoop(magnitude, phase, n, sumMagnitude, sumPhase);
}
