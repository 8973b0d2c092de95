#include "ZunHardwareNeeds.h"

#include <QCoreApplication>

namespace
{
// Bits of a full routing's pattern that name its input kind.
constexpr quint32 Analog = 1u << 31;
constexpr quint32 Digital = 1u << 29;
constexpr quint32 RateConverter = 1u << 28;
// Source ids of the AES inputs (1 L to 3 R).
constexpr int FirstAES = 5;
constexpr int LastAES = 10;

QString text(const char* s) { return QCoreApplication::translate("ZunHardwareNeeds", s); }
QString noReceiver() { return text("This processor has no AES receiver: it has no digital inputs."); }
} // namespace

QString ZunHardwareNeeds::missingForPattern(const CZunHardwareInfo& hardware, quint32 pattern)
{
    if (!hardware.isValid() || (pattern & Analog) || !(pattern & Digital))
        return QString();
    if (!hardware.hasAESReceiver())
        return noReceiver();
    if ((pattern & RateConverter) && !hardware.hasSampleRateConverter())
        return text("This processor has no sample-rate converter.");
    return QString();
}

QString ZunHardwareNeeds::missingForSources(const CZunHardwareInfo& hardware, const QList<int>& sources)
{
    if (!hardware.isValid() || hardware.hasAESReceiver())
        return QString();
    for (int s : sources)
        if (s >= FirstAES && s <= LastAES)
            return noReceiver();
    return QString();
}

QString ZunHardwareNeeds::missingForAESInput(const CZunHardwareInfo& hardware)
{
    return hardware.isValid() && !hardware.hasAESReceiver() ? noReceiver() : QString();
}

QString ZunHardwareNeeds::missingForAESOutput(const CZunHardwareInfo& hardware)
{
    return hardware.isValid() && !hardware.hasAESTransmitter()
               ? text("This processor has no AES transmitter: it has no digital outputs.")
               : QString();
}

QString ZunHardwareNeeds::missingForStereoLink(const CZunHardwareInfo& hardware)
{
    return hardware.isValid() && !hardware.isDoubleBoard()
               ? text("This processor has one board: it has no outputs 5-8 to link with outputs 1-4.")
               : QString();
}
