#include "ZunWizardValues.h"

#include <cmath>
#include <stdexcept>

namespace ZunC
{
QString multipathModeText(int mode)
{
    switch (mode) {
    case 0: return QStringLiteral("None");
    case 1: return QStringLiteral("Mid+Hi");
    case 2: return QStringLiteral("Lo+Mid");
    case 3: return QStringLiteral("Lo+Mid+Hi");
    case 4: return QStringLiteral("2 x Mid+High");
    default: return QString();
    }
}

int clockFromSampleRate(double rate)
{
    if (std::fabs(rate - 48000.0) < 10.0)
        return 1;
    if (std::fabs(rate - 96000.0) < 10.0)
        return 2;
    if (std::fabs(rate - 192000.0) < 10.0)
        return 3;
    if (rate == 0.0)
        return 0;
    throw std::logic_error("Invalid samplingrate");
}
} // namespace ZunC
