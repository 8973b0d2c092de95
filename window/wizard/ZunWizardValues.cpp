#include "ZunWizardValues.h"

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
} // namespace ZunC
