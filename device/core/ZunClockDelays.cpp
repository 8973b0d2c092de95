#include "ZunClockDelays.h"

#include "CCmdMap.h"
#include "CZun.h"
#include "CZunStatusBuffer.h"

#include <QtMath>

#include <algorithm>
#include <array>
#include <cmath>

namespace
{
// Channel and input-path words count samples at 96 kHz, master words at 24 kHz.
constexpr double ChannelUnit = 96000.0;
constexpr double MasterUnit = 24000.0;

double seconds(quint16 raw, double unit) { return raw / unit; }
// The largest word not beyond s.
quint16 rawAtMost(double s, double unit) { return quint16(qBound(0.0, std::floor(s * unit + 1e-6), 65535.0)); }
} // namespace

ZunClockDelays::ZunClockDelays(const CZun& zun, double rate)
{
    const QSharedPointer<CCmdMap> map = zun.GetCmdMap();
    const CZunStatusBuffer* image = zun.GetStatusBuffer();
    if (!map || !image || rate <= 0.0)
        return;
    auto value = [&](const QString& name) { return image->getValue(map->getCmdNr(name)); };
    auto channelName = [](int o) { return QStringLiteral("Cmd_%1_ChDelay%2").arg(o / 4).arg(o % 4); };
    auto pathName = [](int p) { return QStringLiteral("Cmd_%1_InDelay%2").arg(p / 4).arg(QChar('A' + p)); };
    auto masterName = [](int d) { return QStringLiteral("Cmd_%1_MasterDelay").arg(d); };

    // The limits as the editors apply them, at the new rate: the delay memory shared by the
    // DSP's delay lines, the whole word.
    const double memory = 4.0 * value(QStringLiteral("Cmd_0_DSP_Mem")) / qMax(24000.0, rate);
    const double channelLimit = qMin(memory, 65535.0 / ChannelUnit);
    const double masterLimit = qMin(memory, 65535.0 / MasterUnit);
    std::array<double, 2> lines{};
    for (int d = 0; d < 2; ++d)
        lines[d] = qMax<quint16>(1, value(QStringLiteral("Cmd_%1_NumDL").arg(d)));

    std::array<double, 2> master{};
    std::array<double, 8> channel{}, path{};
    for (int d = 0; d < 2; ++d)
        master[d] = seconds(value(masterName(d)), MasterUnit);
    for (int i = 0; i < 8; ++i) {
        channel[i] = seconds(value(channelName(i)), ChannelUnit);
        path[i] = seconds(value(pathName(i)), ChannelUnit);
    }
    const std::array<double, 2> masterBefore = master;
    const std::array<double, 8> channelBefore = channel, pathBefore = path;

    // Each delay within its own limit first, then the output delays within what the inputs
    // and the master leave of their delay line.
    for (int d = 0; d < 2; ++d)
        master[d] = qMin(master[d], masterLimit);
    for (int p = 0; p < 8; ++p)
        path[p] = qMin(path[p], channelLimit / lines[p / 4]);
    const double inputs = *std::max_element(path.begin(), path.end());
    for (int o = 0; o < 8; ++o)
        channel[o] =
            qMin(channel[o], qMax(0.0, qMin(channelLimit, memory / lines[o / 4] - inputs - master[o / 4])));

    auto add = [&](const QString& what, const QString& command, double before, double after, double unit) {
        if (after >= before)
            return;
        const quint16 raw = rawAtMost(after, unit);
        m_changes.append({what, command, raw, CZunDelay::fromSeconds(before), CZunDelay(raw, unit)});
    };
    for (int d = 0; d < 2; ++d)
        add(QStringLiteral("master delay of DSP %1").arg(d + 1), masterName(d), masterBefore[d], master[d], MasterUnit);
    for (int o = 0; o < 8; ++o)
        add(QStringLiteral("delay of output %1").arg(o + 1), channelName(o), channelBefore[o], channel[o], ChannelUnit);
    for (int p = 0; p < 8; ++p)
        add(QStringLiteral("delay of input %1").arg(QChar('A' + p)), pathName(p), pathBefore[p], path[p], ChannelUnit);
}

QString ZunClockDelays::description() const
{
    QStringList lines;
    for (const Change& c : m_changes)
        lines << QStringLiteral("%1: %2 ms to %3 ms").arg(c.what).arg(c.from.milliseconds(), 0, 'g', 6).arg(c.to.milliseconds(), 0, 'g', 6);
    return lines.join(QLatin1Char('\n'));
}
