// zunqueuebench: on a slow link, how long an operator's gain edit made right after
// connecting waits for the processor's confirmation while the stored setups download,
// and how long the downloads take. Each round: an emulated processor on loopback with
// SETUPS setups stored at its front panel, every reply DELAY ms late; a device object
// connects as the program does, and once the downloads are asked for, one gain edit goes
// out. Printed per round and as min/median/max: the edit until its confirmation, and the
// edit until the last download is listed. Bounded: a fixed number of rounds, a time limit
// for each wait.
#include "CZunSetupManager.h"
#include "ZunBenchArgs.h"
#include "ZunSimDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
constexpr int TimeLimitMs = 600000;

[[noreturn]] void fail(const QString& why)
{
    std::fprintf(stderr, "zunqueuebench: %s\n", qPrintable(why));
    std::exit(1);
}

QString spread(std::vector<qint64> v)
{
    std::sort(v.begin(), v.end());
    return QStringLiteral("min %1  median %2  max %3 ms").arg(v.front()).arg(v[v.size() / 2]).arg(v.back());
}
} // namespace

int main(int argc, char** argv)
{
    const QVector<int> args = zunBenchArgs(argc, argv,
                                           "Usage: zunqueuebench [SETUPS [DELAY [ROUNDS]]]\n"
                                           "A gain edit made right after connecting to an emulated processor with SETUPS\n"
                                           "stored setups (1-100, default 100) that answers every request DELAY ms late\n"
                                           "(10-1000, default 100): the time until the processor confirms it, and until\n"
                                           "every setup is downloaded, over ROUNDS rounds (1-20, default 5).\n",
                                           {{"SETUPS", 100, 1, 100}, {"DELAY", 100, 10, 1000}, {"ROUNDS", 5, 1, 20}});
    const int setups = args[0], delay = args[1], rounds = args[2];
    DeviceTestRig::Config config; // settings of the run's own
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out << "zunqueuebench: " << setups << " setups, replies " << delay << " ms late, " << rounds << " rounds\n";

    std::vector<qint64> confirmed, downloaded;
    for (int round = 0; round < rounds; ++round) {
        ZunSimDevice device;
        ZunSimDevice::Options options;
        options.serial = quint16(100 + round); // a log folder of its own: no cached setups
        if (!device.launch(options))
            fail(device.error());
        for (int p = 0; p < setups; ++p)
            if (!device.sim().control(QStringLiteral("store %1 Stored %1").arg(p)))
                fail(QStringLiteral("the emulator stored no setup %1").arg(p));
        if (!device.sim().control(QStringLiteral("delay %1").arg(delay)))
            fail(QStringLiteral("the emulator took no delay"));
        const QSharedPointer<CZun> zun = device.zun();
        CZunSetupManager* manager = zun->GetSetupManager();
        const double gain = -3.0 - 0.5 * round;
        bool heard = false;
        QObject::connect(zun.data(), &CZun::signal_ChannelGain, [&heard, gain](ZunC::AnalogOutputs o, double v) {
            heard = heard || (o == ZunC::Output0 && qAbs(v - gain) < 0.01);
        });
        zun->connect();
        if (!DeviceTestRig::waitUntil([&]() { return manager->pendingDownloads() >= setups; }, TimeLimitMs))
            fail(QStringLiteral("the setup downloads were not asked for"));
        QElapsedTimer clock;
        clock.start();
        zun->SetChannelGain(gain, ZunC::Output0);
        qint64 edit = -1;
        const bool ended = DeviceTestRig::waitUntil(
            [&]() {
                if (heard && edit < 0)
                    edit = clock.elapsed();
                if (manager->pendingDownloads() > 0)
                    return false;
                for (int p = 0; p < setups; ++p)
                    if (!manager->GetSetup(p))
                        return false;
                return edit >= 0;
            },
            TimeLimitMs);
        if (!ended)
            fail(QStringLiteral("round %1 did not end: edit %2 ms, %3 downloads waiting")
                     .arg(round + 1)
                     .arg(edit)
                     .arg(manager->pendingDownloads()));
        confirmed.push_back(edit);
        downloaded.push_back(clock.elapsed());
        out << "round " << round + 1 << ": edit confirmed after " << edit << " ms, every setup listed after "
            << downloaded.back() << " ms\n";
        out.flush();
    }
    out << "edit confirmed:      " << spread(confirmed) << "\n";
    out << "every setup listed:  " << spread(downloaded) << "\n";
    return 0;
}
