// zungainbench: the time from an operator's gain edit on the gain page to the strip
// showing the value the processor confirmed, against an emulated processor on loopback,
// beside the bare command round trip of the same link and the one zunbench measures in the
// same run. The ratio of edit to round trip is the figure (goal: under 3). Bounded: a fixed
// number of edits and commands, a time limit.
#include "AudioIOStatus.h"
#include "GainWidget.h"
#include "MasterGainDelayWidget.h"
#include "OutputGainLevelWidget.h"
#include "ZunBaseComm.h"
#include "ZunMetaTypes.h"
#include "ZunSimDevice.h"

#include <QApplication>
#include <QProcess>
#include <QDoubleSpinBox>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace
{
constexpr int Edits = 1000;
constexpr int WarmUp = 50;
constexpr int TimeLimitMs = 120000;

[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zungainbench: " << text << Qt::endl;
    ::exit(1);
}

void waitFor(const std::function<bool()>& done, int timeoutMs, const char* what)
{
    if (!DeviceTestRig::waitUntil(done, timeoutMs))
        fail(QStringLiteral("time limit reached while waiting for %1").arg(QLatin1String(what)));
}

double percentile(std::vector<qint64> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return double(v[i]) / 1000.0; // microseconds
}

// zunbench's command round trip through the link: "link command RTT: median X us, p99 Y us".
// A run that ends without its figure gives (0, 0), said so on the error output.
QPair<double, double> zunbenchRoundTrip()
{
    QString text;
    QProcess bench;
    bench.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bench.start(QStringLiteral(ZUNBENCH_PATH), QStringList());
    // zunbench keeps its own time limit; this one is only a backstop.
    if (bench.waitForFinished(TimeLimitMs + 30000) && bench.exitCode() == 0)
        text = QString::fromUtf8(bench.readAllStandardOutput());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("link command RTT:\\s+median ([0-9.]+) us, p99 ([0-9.]+) us")).match(text);
    if (!m.hasMatch()) {
        QTextStream(stderr) << "zungainbench: zunbench ended without its figure" << Qt::endl;
        return {0.0, 0.0};
    }
    return {m.captured(1).toDouble(), m.captured(2).toDouble()};
}
} // namespace

int main(int argc, char** argv)
{
    DeviceTestRig::Config config; // settings of the run's own
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerZunMetaTypes();

    std::vector<qint64> edits;
    std::vector<qint64> commands;
    {
        ZunSimDevice device;
        if (!device.start(ZunSimDevice::Options()))
            fail(device.error());
        QSharedPointer<CZun> zun = device.zun();
        const QSharedPointer<CCmdMap> map = zun->GetCmdMap();
        GainWidget page(1, zun, QSharedPointer<AudioIOStatus>::create(map));
        QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, &page, &GainWidget::UpdateGui);
        page.UpdateGui();
        waitFor([&]() { return !page.outputStrips().isEmpty(); }, 20000, "the output strips");

        QDoubleSpinBox* box = page.outputStrip(ZunC::Output2)->gainSpinBox();
        // Connected after the page: when this runs, the page has shown the confirmation.
        double confirmed = 1000.0;
        QObject::connect(zun.data(), &CZun::signal_ChannelGain, &page, [&](ZunC::AnalogOutputs o, double gain) {
            if (o == ZunC::Output2)
                confirmed = gain;
        });
        QElapsedTimer t;
        for (int i = 0; i < WarmUp + Edits; ++i) {
            const double target = -10.0 + 0.1 * (i % 100); // every edit a new value
            confirmed = 1000.0;
            t.start();
            box->setValue(target);
            waitFor([&]() { return qAbs(confirmed - target) < 1e-4 && qAbs(box->value() - target) < 1e-4; },
                    TimeLimitMs, "a confirmation");
            if (i >= WarmUp)
                edits.push_back(t.nsecsElapsed());
        }

        // The same device's bare command round trip, as zunbench measures it, so that the run
        // has its reference even when zunbench gives none.
        ZunBaseComm* link = zun->GetLink();
        const quint16 memId = map->getCmdNr("Cmd_MemID0");
        bool answered = false;
        QObject::connect(link, &ZunBaseComm::signal_CmdProcessed, &page, [&](CZunCmd c) {
            if (c.getCmd() == memId)
                answered = true;
        });
        for (int i = 0; i < WarmUp + Edits; ++i) {
            answered = false;
            t.start();
            link->sendCmd(memId, quint16(i & 0xFF));
            waitFor([&]() { return answered; }, TimeLimitMs, "a command's reply");
            if (i >= WarmUp)
                commands.push_back(t.nsecsElapsed());
        }
    }

    const QPair<double, double> link = zunbenchRoundTrip();
    const double median = percentile(edits, 0.5), p99 = percentile(edits, 0.99);
    QTextStream out(stdout);
    out << "edits: " << Edits << " (after " << WarmUp << " warm-up edits)\n";
    out << QString("edit to confirmed strip: median %1 us, p99 %2 us\n").arg(median, 0, 'f', 1).arg(p99, 0, 'f', 1);
    const double ownMedian = percentile(commands, 0.5), ownP99 = percentile(commands, 0.99);
    out << QString("command RTT, this link:  median %1 us, p99 %2 us\n").arg(ownMedian, 0, 'f', 1).arg(ownP99, 0, 'f', 1);
    out << QString("ratio edit / command:    median %1, p99 %2 (goal: under 3)\n")
               .arg(median / ownMedian, 0, 'f', 2)
               .arg(p99 / ownP99, 0, 'f', 2);
    if (link.first > 0.0) {
        out << QString("zunbench command RTT:    median %1 us, p99 %2 us\n").arg(link.first, 0, 'f', 1).arg(link.second, 0, 'f', 1);
        out << QString("ratio edit / zunbench:   median %1, p99 %2 (goal: under 3)\n")
                   .arg(median / link.first, 0, 'f', 2)
                   .arg(p99 / link.second, 0, 'f', 2);
    } else {
        out << "zunbench command RTT:    none (zunbench ended without its figure)\n";
    }
    return 0;
}
