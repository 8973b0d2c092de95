#pragma once

#include <QMap>
#include <QString>

class CZun;

namespace ZunC
{
// The processing clock index of a sample rate: 1, 2, 3 for 48, 96, 192 kHz (within
// 10 Hz), 0 for no rate. Any other rate throws std::logic_error("Invalid samplingrate").
int clockFromSampleRate(double rate);
} // namespace ZunC

// Which rates a processor's DSPs run FIR/limiter sets at: one rule for a set chosen in the
// advanced tab, picked in the configuration wizard, or carried by a setup archive. A set
// at another rate than its clock would run with its crossover points and limiter times
// scaled by the ratio.
class ZunSampleRateRule
{
public:
    // The clocks the processor's DSPs run (key: the "Cmd_ClockSel" value), with their names.
    static QMap<int, QString> clockChoices(const CZun& zun);
    // Why a set at rate can not run on zun, empty when it can: a rate that no clock of its
    // DSPs runs, or, where the clock stays as it is (clockStays), a rate other than the one
    // the processor runs. A set without a rate of its own runs at any.
    static QString refusal(const CZun& zun, double rate, bool clockStays);
    // Why a set at rate can not run under clock (a setup's own clock); empty when it can,
    // when the clock is external (its rate is measured) or the set has no rate of its own.
    static QString mismatch(double rate, int clock);
};
