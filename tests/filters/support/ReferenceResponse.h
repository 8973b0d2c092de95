#pragma once

// Independent evaluation of the filters for the tests: the analog prototypes, written from
// their textbook forms (transfer functions and pole formulas), evaluated at the analog
// frequency that the bilinear transform maps each grid point to:
//   H(e^jw) = Ha(j tan(w/2) / tan(w0/2)),  w = 2 pi f / fs,  w0 = 2 pi fc / fs.
// Nothing here calls the design code.

#include <QVector>

#include <cmath>
#include <complex>

namespace Reference {

using cplx = std::complex<double>;

inline cplx warpedPoint(double f, double fc, double fs)
{
    return cplx(0.0, std::tan(M_PI * f / fs) / std::tan(M_PI * fc / fs));
}

// The eleven EQ types at the normalised analog point s.
inline cplx eq(int type, cplx s, double gainDb, double Q)
{
    const double A = std::pow(10.0, gainDb / 40.0);
    const double G = A * A; // linear gain
    const double sq = std::sqrt(A);
    switch (type) {
    case 0: return 1.0 / (s + 1.0);
    case 1: return 1.0 / (s * s + s / Q + 1.0);
    case 2: return s / (s + 1.0);
    case 3: return s * s / (s * s + s / Q + 1.0);
    case 4: return (s * s + s * (A / Q) + 1.0) / (s * s + s / (A * Q) + 1.0);
    // First-order shelves: gain G at DC (low) or at high frequencies (high), sqrt(G) at the corner.
    case 5: return (s + std::sqrt(G)) / (s + 1.0 / std::sqrt(G));
    case 6: return A * (s * s + s * sq / Q + A) / (A * s * s + s * sq / Q + 1.0);
    case 7: return std::sqrt(G) * (std::sqrt(G) * s + 1.0) / (s + std::sqrt(G));
    case 8: return A * (A * s * s + s * sq / Q + 1.0) / (s * s + s * sq / Q + A);
    case 9: return (1.0 - s) / (1.0 + s);
    case 10: return (s * s - s / Q + 1.0) / (s * s + s / Q + 1.0);
    }
    return 1.0;
}

// Poles of the normalised low-pass prototypes.
inline QVector<cplx> butterworth(int n)
{
    QVector<cplx> p;
    for (int k = 1; k <= n; ++k)
        p.append(std::exp(cplx(0.0, M_PI * (2.0 * k + n - 1) / (2.0 * n))));
    return p;
}

inline QVector<cplx> critical(int n)
{
    // |1/(1 + jw/p)|^(2n) = 1/2 at w = 1.
    return QVector<cplx>(n, cplx(-1.0 / std::sqrt(std::pow(2.0, 1.0 / n) - 1.0), 0.0));
}

inline QVector<cplx> chebyshev(int n, double ripple)
{
    const double e = std::sqrt(std::pow(10.0, ripple / 10.0) - 1.0);
    const double a = std::asinh(1.0 / e) / n;
    QVector<cplx> p;
    for (int k = 1; k <= n; ++k) {
        const double t = M_PI * (2 * k - 1) / (2.0 * n);
        p.append(cplx(-std::sinh(a) * std::sin(t), std::cosh(a) * std::cos(t)));
    }
    return p;
}

inline QVector<cplx> linkwitzRiley(int n)
{
    if (n % 2)
        return butterworth(n);
    return butterworth(n / 2) + butterworth(n / 2);
}

// Low pass with unity DC gain, high pass by s -> 1/s, all pass with mirrored zeros.
inline cplx lowPass(const QVector<cplx>& poles, cplx s)
{
    cplx h = 1.0;
    for (const cplx& p : poles)
        h *= -p / (s - p);
    return h;
}
inline cplx highPass(const QVector<cplx>& poles, cplx s) { return lowPass(poles, 1.0 / s); }
inline cplx allPass(const QVector<cplx>& poles, cplx s)
{
    cplx h = 1.0;
    for (const cplx& p : poles)
        h *= (-s - p) / (s - p);
    return h;
}

// Bessel: the reverse Bessel polynomial evaluated directly, its argument scaled so that the
// magnitude at 1 rad/s is 1/sqrt(2).
struct Bessel
{
    QVector<double> c;
    double scale = 1.0;

    explicit Bessel(int n)
    {
        for (int k = 0; k <= n; ++k)
            c.append(std::tgamma(2 * n - k + 1) /
                     (std::pow(2.0, n - k) * std::tgamma(k + 1) * std::tgamma(n - k + 1)));
        double lo = 0.01, hi = 100.0;
        for (int i = 0; i < 200; ++i) {
            const double mid = std::sqrt(lo * hi);
            scale = mid;
            (std::norm(lowPass(cplx(0.0, 1.0))) > 0.5 ? lo : hi) = mid;
        }
        scale = std::sqrt(lo * hi);
    }
    cplx poly(cplx s) const
    {
        cplx v = 0.0;
        for (int k = c.size() - 1; k >= 0; --k)
            v = v * s + c[k];
        return v;
    }
    cplx lowPass(cplx s) const { return c[0] / poly(s * scale); }
    cplx highPass(cplx s) const { return lowPass(1.0 / s); }
    cplx allPass(cplx s) const { return poly(-s * scale) / poly(s * scale); }
};

inline double dB(cplx h) { return 20.0 * std::log10(std::abs(h)); }
inline double degrees(cplx h) { return std::arg(h) * 180.0 / M_PI; }
// Difference of two angles in degrees, folded into [0, 180].
inline double angleDistance(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

} // namespace Reference
