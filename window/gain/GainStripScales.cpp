#include "GainStripScales.h"

#include <qwt_abstract_scale.h>
#include <qwt_abstract_scale_draw.h>

#include <QFont>

#include <cmath>

namespace
{
// The multiples of step from trunc(min/step) to trunc(max/step) that lie inside
// [min, max] (a range that does not hold 0 would otherwise get one outside); with odd set
// only the odd multiples.
QList<double> multiples(double min, double max, int step, bool odd = false)
{
    QList<double> out;
    const int first = int(std::trunc(min / step));
    const int last = int(std::trunc(max / step));
    for (int k = first; k <= last; ++k) {
        const double t = double(k * step);
        if ((!odd || k % 2 != 0) && t >= min && t <= max)
            out.append(t);
    }
    return out;
}
} // namespace

QwtScaleDiv GainStripScales::channelGain(double min, double max, int maxMajors)
{
    int step = 3;
    while (multiples(min, max, step).size() > qMax(2, maxMajors) && step < 96)
        step *= 2;
    QList<double> medium;
    if (step == 3) {
        for (int dB = int(std::ceil(min)); dB <= int(std::floor(max)); ++dB)
            if (dB % 3 != 0)
                medium.append(double(dB));
    } else {
        medium = multiples(min, max, step / 2, true);
    }
    return QwtScaleDiv(min, max, QList<double>(), medium, multiples(min, max, step));
}

QwtScaleDiv GainStripScales::masterGain(double min, double max)
{
    return QwtScaleDiv(min, max, multiples(min, max, 6, true), multiples(min, max, 12, true),
                       multiples(min, max, 24));
}

QwtScaleDiv GainStripScales::level()
{
    return QwtScaleDiv(-48.0, 0.0, {-3, -9, -15, -21, -27, -33, -39, -45}, {-6, -18, -30, -42},
                       {0, -12, -24, -36, -48});
}

QwtScaleDiv GainStripScales::gainReduction() { return QwtScaleDiv(12.0, 0.0, {}, {3, 9}, {0, 6, 12}); }

QwtScaleDiv GainStripScales::coilTemperature() { return QwtScaleDiv(0.0, 100.0, {}, {25, 75}, {0, 50, 100}); }

void GainStripScales::style(QwtAbstractScale* scale, QwtAbstractScaleDraw* draw, int minor, int medium, int major)
{
    scale->setFont(QFont(QStringLiteral("Helvetica"), 8));
    draw->setTickLength(QwtScaleDiv::MinorTick, minor);
    draw->setTickLength(QwtScaleDiv::MediumTick, medium);
    draw->setTickLength(QwtScaleDiv::MajorTick, major);
    draw->setSpacing(1);
}
