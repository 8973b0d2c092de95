#include "ZunSampleRateRule.h"

#include "CCmdMap.h"
#include "CZun.h"
#include "CZunHardwareInfo.h"

#include <cmath>
#include <stdexcept>

namespace ZunC
{
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

namespace
{
int clockOf(double hz)
{
    try {
        return ZunC::clockFromSampleRate(hz);
    } catch (const std::logic_error&) {
        return -1;
    }
}
} // namespace

QMap<int, QString> ZunSampleRateRule::clockChoices(const CZun& zun)
{
    QMap<int, QString> clocks = zun.GetClockKeys();
    if (zun.GetDSPType() == zun.GetCmdMap()->getCmdNr("Inf_DSPTyp0"))
        clocks.remove(3);
    // The external clock comes in through the AES receiver: without one there is none.
    const CZunHardwareInfo hardware = zun.GetHardwareInfo();
    if (hardware.isValid() && !hardware.hasAESReceiver())
        clocks.remove(zun.GetCmdMap()->getCmdNr("Inf_Sel_Clk_Ext"));
    return clocks;
}

QString ZunSampleRateRule::refusal(const CZun& zun, double rate, bool clockStays)
{
    if (rate == 0.0)
        return QString();
    const int clock = clockOf(rate);
    const QMap<int, QString> clocks = clockChoices(zun);
    if (clock < 0 || !clocks.contains(clock))
        return QStringLiteral("The filter runs at %1 Hz, a sample rate the DSPs of this Zun cannot run. Please select "
                              "a different filter.")
            .arg(rate);
    if (!clockStays)
        return QString();
    // The clock the processor is set to; on its external clock, the rate it measures.
    int running = zun.GetClockSelect();
    QString runningText = clocks.value(running);
    if (running == 0 || runningText.isEmpty()) {
        running = clockOf(zun.GetSampleRate());
        runningText = QStringLiteral("%1 Hz").arg(zun.GetSampleRate());
    }
    if (clock == running)
        return QString();
    return QStringLiteral("The filter runs at %1 Hz, but the Zun runs at %2. Please select a filter for %2, or "
                          "change the sample rate with the configuration wizard.")
        .arg(rate)
        .arg(runningText);
}

QString ZunSampleRateRule::mismatch(double rate, int clock)
{
    if (rate == 0.0 || clock == 0 || clockOf(rate) == clock)
        return QString();
    return QStringLiteral("its FIR set runs at %1 Hz, but the setup's clock at %2 Hz")
        .arg(rate)
        .arg(CZun::SampleRateOfClock(quint16(clock)));
}
