#pragma once

#include <QVector>
#include <QtGlobal>

#include <complex>

// Design of the crossover filters: an analog low-pass prototype of the characteristic and
// order, normalised to a corner of 1 rad/s, turned into a high pass (s -> 1/s) or an all
// pass when asked, and split into device EQ sections: second-order sections (low pass,
// high pass or all pass 12 dB with a frequency and a quality) and, for odd orders, one
// first-order section (6 dB).
//
// Normalisation of each characteristic at the corner frequency fc (low and high pass alike,
// since s -> 1/s keeps the magnitude at the corner):
//   0 critical:       n equal real poles, placed so that the magnitude at fc is -3.01 dB
//                     (pole at fc / sqrt(2^(1/n) - 1) for the low pass).
//   1 Bessel:         the Bessel (maximally flat delay) poles, scaled so that the magnitude
//                     at fc is -3.01 dB.
//   2 Butterworth:    -3.01 dB at fc.
//   3 Chebyshev:      type I with the given ripple r (dB); every section has unity gain in
//                     the pass band, so the pass band ripples between 0 and -r dB for odd
//                     orders and between +r and 0 dB for even orders; fc is the edge of the
//                     ripple band, where the magnitude is r dB below the pass band's top.
//   8 Linkwitz-Riley: two Butterworth filters of half the order in cascade: -6.02 dB at fc.
//                     Low and high pass sum flat in magnitude (to an all pass) at orders 4
//                     and 8, and at orders 2, 6 and 10 when one side's polarity is inverted.
//                     An odd order has no Linkwitz-Riley form: it gets the Butterworth filter
//                     of that order (-3.01 dB at fc), whose low and high pass sum to an
//                     all pass (flat magnitude) with either polarity.
//   7 all pass, and the all-pass band (pass band 2) with any characteristic: the all pass
//                     whose poles are those of the characteristic's low pass (Butterworth
//                     for characteristic 7) and whose zeros mirror them; |H| = 1, the phase
//                     falls from 0 through -90 x n degrees at fc (for Butterworth poles)
//                     towards -180 x n.
//   Any other characteristic number designs a Butterworth filter.
// Orders outside 1 to 10 are limited to that range.
//
// Digital form: the whole prototype goes through one bilinear transform pre-warped at fc,
// s = (1 - z^-1) / (K (1 + z^-1)) with K = tan(pi fc / fs), so the corner attenuation holds
// exactly at fc. Each section is then the device EQ of its type at the frequency
// fk = fs/pi x atan(wk K) (wk its prototype frequency) with its prototype quality: the EQ
// pre-warps at its own frequency and so yields exactly this section of the transformed
// prototype. Every fk lies below fs/2 by construction and is designed as it is, so the
// digital filter is the transformed prototype however close fc comes to fs/2. A corner at
// or above fs/2 is never accepted from an editor, a file or an import; should one come
// from elsewhere, the whole design moves to CZunBiquadDesign::clampCorner's corner, never
// a single section.
class CZunHighOrderDesign
{
public:
    enum Passband : quint16 { LowPass = 0, HighPass = 1, AllPass = 2 };
    enum Characteristic : quint16 {
        Critical = 0,
        Bessel = 1,
        Butterworth = 2,
        Chebyshev = 3,
        AllPassCharacteristic = 7,
        LinkwitzRiley = 8
    };
    static constexpr int MinimumOrder = 1;
    static constexpr int MaximumOrder = 10;
    static constexpr int MaximumSections = 5;
    static constexpr double MinimumRipple = 0.1;
    // A first-order EQ has no quality, but its record holds one that the manager checks.
    static constexpr double FirstOrderQuality = 0.7071;

    // One prototype section: a first-order pole at -omega, or a conjugate pole pair of
    // magnitude omega and quality q.
    struct PrototypeSection
    {
        bool firstOrder = false;
        double omega = 1.0;
        double quality = 0.5;
    };

    // One device EQ section.
    struct Section
    {
        quint16 type = 0; // CZunBiquadDesign::Type
        double frequency = 1000.0;
        double quality = 0.7071;
    };

    static int limitedOrder(int order);
    static int sectionCount(int order) { return (limitedOrder(order) + 1) / 2; }

    // Poles of the normalised low-pass prototype (left half plane, conjugates included).
    static QVector<std::complex<double>> prototypePoles(quint16 characteristic, int order, double ripple);
    // The prototype split into sections; first-order section first.
    static QVector<PrototypeSection> prototypeSections(quint16 characteristic, int order, double ripple);
    // The device sections of a filter.
    static QVector<Section> design(quint16 passband, quint16 characteristic, int order, double frequency,
                                   double ripple, double sampleRate);

private:
    static QVector<std::complex<double>> besselPoles(int order);
};
