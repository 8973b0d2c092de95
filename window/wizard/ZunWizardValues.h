#pragma once

#include <QString>

namespace ZunC
{
// The operator's name of a multipath mode ("None", "Mid+Hi", ...); "" for no mode.
QString multipathModeText(int mode);
// The processing clock index of a sample rate: 1, 2, 3 for 48, 96, 192 kHz (within
// 10 Hz), 0 for no rate. Any other rate throws std::logic_error("Invalid samplingrate").
int clockFromSampleRate(double rate);
} // namespace ZunC
