#pragma once

#include "ZunSampleRateRule.h"

#include <QString>

namespace ZunC
{
// The operator's name of a multipath mode ("None", "Mid+Hi", ...); "" for no mode.
QString multipathModeText(int mode);
} // namespace ZunC
