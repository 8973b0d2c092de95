#include "CZunHighOrderDesign.h"
#include "CZunBiquadDesign.h"

#include <algorithm>
#include <cmath>

using cplx = std::complex<double>;

int CZunHighOrderDesign::limitedOrder(int order)
{
    return std::min(std::max(order, MinimumOrder), MaximumOrder);
}

namespace {

QVector<cplx> butterworthPoles(int n)
{
    QVector<cplx> poles;
    for (int k = 0; k < n; ++k)
        poles.append(std::polar(1.0, M_PI * (2.0 * k + n + 1) / (2.0 * n)));
    return poles;
}

// Roots of a real polynomial (coefficients from the constant term up) by the Aberth-Ehrlich
// iteration; degree 10 at most here, which it settles in a few dozen steps.
QVector<cplx> polynomialRoots(const QVector<double>& c)
{
    const int n = c.size() - 1;
    auto eval = [&](cplx z, cplx& derivative) {
        cplx p = c[n];
        cplx d = 0.0;
        for (int i = n - 1; i >= 0; --i) {
            d = d * z + p;
            p = p * z + c[i];
        }
        derivative = d;
        return p;
    };
    // Start on a circle of the roots' geometric mean radius, off the real axis.
    const double radius = std::pow(std::fabs(c[0] / c[n]), 1.0 / n);
    QVector<cplx> z(n);
    for (int k = 0; k < n; ++k)
        z[k] = std::polar(radius, 2.0 * M_PI * k / n + 0.4);
    for (int iteration = 0; iteration < 500; ++iteration) {
        double largest = 0.0;
        for (int k = 0; k < n; ++k) {
            cplx d;
            const cplx p = eval(z[k], d);
            if (p == 0.0)
                continue;
            const cplx ratio = p / d;
            cplx sum = 0.0;
            for (int j = 0; j < n; ++j)
                if (j != k)
                    sum += 1.0 / (z[k] - z[j]);
            const cplx step = ratio / (1.0 - ratio * sum);
            z[k] -= step;
            largest = std::max(largest, std::abs(step) / std::max(1.0, std::abs(z[k])));
        }
        if (largest < 1e-15)
            break;
    }
    return z;
}

// |H(jw)|^2 of the all-pole low pass with these poles, normalised to 1 at DC.
double lowPassPower(const QVector<cplx>& poles, double w)
{
    double power = 1.0;
    for (const cplx& p : poles)
        power *= std::norm(p) / std::norm(cplx(0.0, w) - p);
    return power;
}

} // namespace

QVector<cplx> CZunHighOrderDesign::besselPoles(int n)
{
    // Reverse Bessel polynomial: coefficient of s^k is (2n - k)! / (2^(n-k) k! (n - k)!).
    QVector<double> c(n + 1);
    for (int k = 0; k <= n; ++k) {
        double value = 1.0;
        for (int i = n - k + 1; i <= 2 * n - k; ++i)
            value *= i; // (2n-k)! / (n-k)!
        for (int i = 2; i <= k; ++i)
            value /= i;
        value /= std::pow(2.0, n - k);
        c[k] = value;
    }
    QVector<cplx> poles = polynomialRoots(c);
    for (cplx& p : poles) {
        if (std::fabs(p.imag()) < 1e-12 * std::abs(p))
            p = cplx(p.real(), 0.0);
        if (p.real() > 0.0) // cannot happen for a Bessel polynomial; keep the filter stable
            p = cplx(-p.real(), p.imag());
    }
    // Scale so that |H(j)| = 1/sqrt(2): find the -3.01 dB frequency by bisection (the power
    // falls monotonically) and divide the poles by it.
    double lo = 1e-3, hi = 1e3;
    for (int i = 0; i < 200; ++i) {
        const double mid = std::sqrt(lo * hi);
        if (lowPassPower(poles, mid) > 0.5)
            lo = mid;
        else
            hi = mid;
    }
    const double w3 = std::sqrt(lo * hi);
    for (cplx& p : poles)
        p /= w3;
    return poles;
}

QVector<cplx> CZunHighOrderDesign::prototypePoles(quint16 characteristic, int order, double ripple)
{
    const int n = limitedOrder(order);
    switch (characteristic) {
    case Critical: {
        const double w = 1.0 / std::sqrt(std::pow(2.0, 1.0 / n) - 1.0);
        return QVector<cplx>(n, cplx(-w, 0.0));
    }
    case Bessel:
        return besselPoles(n);
    case Chebyshev: {
        const double r = std::max(ripple, MinimumRipple);
        const double epsilon = std::sqrt(std::pow(10.0, r / 10.0) - 1.0);
        const double v = std::asinh(1.0 / epsilon) / n;
        QVector<cplx> poles;
        for (int k = 1; k <= n; ++k) {
            const double theta = M_PI * (2.0 * k - 1) / (2.0 * n);
            poles.append(cplx(-std::sinh(v) * std::sin(theta), std::cosh(v) * std::cos(theta)));
        }
        return poles;
    }
    case LinkwitzRiley:
        if (n % 2 == 0) {
            QVector<cplx> half = butterworthPoles(n / 2);
            return half + half;
        }
        return butterworthPoles(n);
    default:
        return butterworthPoles(n);
    }
}

QVector<CZunHighOrderDesign::PrototypeSection> CZunHighOrderDesign::prototypeSections(quint16 characteristic,
                                                                                        int order, double ripple)
{
    const QVector<cplx> poles = prototypePoles(characteristic, order, ripple);
    QVector<double> real;
    QVector<cplx> upper;
    for (const cplx& p : poles) {
        if (std::fabs(p.imag()) <= 1e-9 * std::abs(p))
            real.append(p.real());
        else if (p.imag() > 0.0)
            upper.append(p);
    }
    std::sort(real.begin(), real.end());

    QVector<PrototypeSection> sections;
    // An odd count of real poles leaves one first-order section.
    if (real.size() % 2 == 1) {
        PrototypeSection s;
        s.firstOrder = true;
        s.omega = -real.takeLast();
        sections.append(s);
    }
    // Two real poles a, b make a section s^2 + (a + b) s + ab: w = sqrt(ab),
    // Q = sqrt(ab) / (a + b); equal poles give Q = 0.5.
    for (int i = 0; i + 1 < real.size(); i += 2) {
        const double a = -real[i], b = -real[i + 1];
        PrototypeSection s;
        s.omega = std::sqrt(a * b);
        s.quality = s.omega / (a + b);
        sections.append(s);
    }
    // A conjugate pair p, p*: w = |p|, Q = |p| / (-2 Re p). Low quality first.
    std::sort(upper.begin(), upper.end(),
              [](const cplx& x, const cplx& y) { return -x.real() / std::abs(x) > -y.real() / std::abs(y); });
    for (const cplx& p : upper) {
        PrototypeSection s;
        s.omega = std::abs(p);
        s.quality = std::abs(p) / (-2.0 * p.real());
        sections.append(s);
    }
    return sections;
}

QVector<CZunHighOrderDesign::Section> CZunHighOrderDesign::design(quint16 passband, quint16 characteristic,
                                                                  int order, double frequency, double ripple,
                                                                  double sampleRate)
{
    const double fs = CZunBiquadDesign::validSampleRate(sampleRate);
    const double fc = CZunBiquadDesign::clampCorner(frequency, fs);
    const double K = std::tan(M_PI * fc / fs);
    const bool allPass = passband == AllPass || characteristic == AllPassCharacteristic;
    const quint16 poleCharacteristic = characteristic == AllPassCharacteristic ? quint16(Butterworth) : characteristic;

    QVector<Section> sections;
    for (const PrototypeSection& p : prototypeSections(poleCharacteristic, order, ripple)) {
        Section s;
        double omega = p.omega;
        if (allPass) {
            s.type = p.firstOrder ? CZunBiquadDesign::AllPass6 : CZunBiquadDesign::AllPass12;
        } else if (passband == HighPass) {
            // s -> 1/s moves a section from w to 1/w and keeps its quality.
            omega = 1.0 / omega;
            s.type = p.firstOrder ? CZunBiquadDesign::HighPass6 : CZunBiquadDesign::HighPass12;
        } else {
            s.type = p.firstOrder ? CZunBiquadDesign::LowPass6 : CZunBiquadDesign::LowPass12;
        }
        s.frequency = fs / M_PI * std::atan(omega * K);
        s.quality = p.firstOrder ? FirstOrderQuality : p.quality;
        sections.append(s);
    }
    return sections;
}
