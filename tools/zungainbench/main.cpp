// zungainbench: the time from an operator's gain edit on the gain page to the strip
// showing the value the processor confirmed, against an emulated processor on loopback,
// beside the bare command round trip that zunbench measures in the same run. The ratio of
// the two is the figure (goal: under 3). Bounded: a fixed number of edits, a time limit.
#include "AudioIOStatus.h"
#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "CZun.h"
#include "GainWidget.h"
#include "MasterGainDelayWidget.h"
#include "OutputGainLevelWidget.h"
#include "ZunDeviceStats.h"
#include "ZunMetaTypes.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUdpSocket>

#include <algorithm>
#include <functional>
#include <vector>

namespace
{
constexpr int Edits = 1000;
constexpr int WarmUp = 50;
constexpr int TimeLimitMs = 120000;

QTextStream out(stdout);

[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zungainbench: " << text << Qt::endl;
    ::exit(1);
}

quint16 freePort(bool tcp)
{
    if (tcp) {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        return s.serverPort();
    }
    QUdpSocket s;
    s.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return s.localPort();
}

double percentile(std::vector<qint64> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return double(v[i]) / 1000.0; // microseconds
}

void waitFor(const std::function<bool()>& done, const QElapsedTimer& total, const char* what)
{
    while (!done()) {
        if (total.elapsed() > TimeLimitMs)
            fail(QStringLiteral("time limit reached while waiting for %1").arg(QLatin1String(what)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
}

// zunbench's command round trip through the link: "link command RTT: median X us, p99 Y us".
// A run that ends without its figure is tried once more (and said so).
QPair<double, double> zunbenchRoundTrip()
{
    QString text;
    for (int attempt = 0; attempt < 2 && text.isEmpty(); ++attempt) {
        QProcess bench;
        bench.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        bench.start(QStringLiteral(ZUNBENCH_PATH), QStringList());
        // zunbench keeps its own time limit; this one is only a backstop.
        if (bench.waitForFinished(TimeLimitMs + 30000) && bench.exitCode() == 0)
            text = QString::fromUtf8(bench.readAllStandardOutput());
        else
            QTextStream(stderr) << "zungainbench: zunbench ended without its figure" << Qt::endl;
    }
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("link command RTT:\\s+median ([0-9.]+) us, p99 ([0-9.]+) us")).match(text);
    if (!m.hasMatch())
        fail(QStringLiteral("zunbench printed no round trip"));
    return {m.captured(1).toDouble(), m.captured(2).toDouble()};
}
} // namespace

int main(int argc, char** argv)
{
    // Settings of its own, never the user's.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerZunMetaTypes();
    QElapsedTimer total;
    total.start();

    const QString sim = qEnvironmentVariableIsSet("ZUNSIM") ? qEnvironmentVariable("ZUNSIM") : QStringLiteral(ZUNSIM_PATH);
    const quint16 tcpPort = freePort(true);
    QProcess proc;
    proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc.start(sim, {"--bind", "127.0.0.1", "--tcp-port", QString::number(tcpPort), "--udp-port",
                     QString::number(freePort(false)), "--firmware", "1080", "--hardware", "0x0F80"});
    QByteArray line;
    while (!line.contains("zunsim ready")) {
        if (!proc.waitForReadyRead(10000))
            fail(QStringLiteral("the emulator %1 did not start").arg(sim));
        line += proc.readAllStandardOutput();
    }

    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(1080);
    auto record = QSharedPointer<ZunDeviceStats>::create(CMacAddr(0x5A756E000000ull | 42));
    record->setFirmware(1080);
    record->setIpAddress(QHostAddress(QHostAddress::LocalHost));
    record->setHardwareInfo(CZunHardwareInfo(0x0F80));
    QSharedPointer<CZun> zun(new CZun(record, map, QSharedPointer<CRoutingLibrary>::create(map)));
    zun->SetPort(tcpPort);
    GainWidget page(1, zun, QSharedPointer<AudioIOStatus>::create(map));
    bool loaded = false;
    QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, &page, [&]() {
        page.UpdateGui();
        loaded = true;
    });
    zun->connect();
    waitFor([&]() { return loaded && !page.outputStrips().isEmpty(); }, total, "the parameter image");

    OutputGainLevelWidget* strip = page.outputStrip(ZunC::Output2);
    QDoubleSpinBox* box = strip->gainSpinBox();
    // Connected after the page: when this runs, the page has shown the confirmation.
    double confirmed = 1000.0;
    QObject::connect(zun.data(), &CZun::signal_ChannelGain, &page, [&](ZunC::AnalogOutputs o, double gain) {
        if (o == ZunC::Output2)
            confirmed = gain;
    });

    std::vector<qint64> edits;
    QElapsedTimer t;
    for (int i = 0; i < WarmUp + Edits; ++i) {
        const double target = -10.0 + 0.1 * (i % 100); // every edit a new value
        confirmed = 1000.0;
        t.start();
        box->setValue(target);
        waitFor([&]() { return qAbs(confirmed - target) < 1e-4 && qAbs(box->value() - target) < 1e-4; }, total,
                "a confirmation");
        if (i >= WarmUp)
            edits.push_back(t.nsecsElapsed());
    }
    zun->disconnect();
    proc.write("quit\n");
    if (!proc.waitForFinished(5000))
        proc.kill();

    const QPair<double, double> link = zunbenchRoundTrip();
    const double median = percentile(edits, 0.5), p99 = percentile(edits, 0.99);
    out << "edits: " << Edits << " (after " << WarmUp << " warm-up edits)\n";
    out << QString("edit to confirmed strip: median %1 us, p99 %2 us\n").arg(median, 0, 'f', 1).arg(p99, 0, 'f', 1);
    out << QString("zunbench command RTT:    median %1 us, p99 %2 us\n").arg(link.first, 0, 'f', 1).arg(link.second, 0, 'f', 1);
    out << QString("ratio edit / command:    median %1, p99 %2 (goal: under 3)\n")
               .arg(median / link.first, 0, 'f', 2)
               .arg(p99 / link.second, 0, 'f', 2);
    out.flush();
    return 0;
}
