// zunbench: round-trip time of single commands through the link next to a bare socket
// ping-pong of the same frames, and the throughput of a 1 MiB block write, against an
// emulated processor on loopback. Bounded: a fixed number of rounds and a time limit.
#include "CCmdMap.h"
#include "ZunBaseComm.h"
#include "ZunProtocolMetaTypes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <vector>

namespace
{
constexpr int Rounds = 2000;
constexpr int WarmUp = 100;
constexpr int TimeLimitMs = 120000;

QTextStream out(stdout);

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

[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zunbench: " << text << Qt::endl;
    ::exit(1);
}

// Waits for the next processed command, with the overall time limit.
CZunCmd nextCmd(ZunBaseComm* link, const QElapsedTimer& total)
{
    CZunCmd result;
    bool got = false;
    QEventLoop loop;
    auto c = QObject::connect(link, &ZunBaseComm::signal_CmdProcessed, &loop, [&](CZunCmd cmd) {
        result = cmd;
        got = true;
        loop.quit();
    });
    QTimer::singleShot(int(qMax<qint64>(1, TimeLimitMs - total.elapsed())), &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(c);
    if (!got)
        fail(QStringLiteral("time limit reached"));
    return result;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    registerProtocolMetaTypes();
    QElapsedTimer total;
    total.start();

    const QString sim = qEnvironmentVariableIsSet("ZUNSIM") ? qEnvironmentVariable("ZUNSIM") : QStringLiteral(ZUNSIM_PATH);
    const quint16 tcpPort = freePort(true);
    QProcess proc;
    proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc.start(sim, {"--bind", "127.0.0.1", "--tcp-port", QString::number(tcpPort), "--udp-port",
                     QString::number(freePort(false)), "--firmware", "1080"});
    QByteArray line;
    while (!line.contains("zunsim ready")) {
        if (!proc.waitForReadyRead(10000))
            fail(QStringLiteral("the emulator %1 did not start").arg(sim));
        line += proc.readAllStandardOutput();
    }

    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(1080);
    const quint16 cmdNr = map->getCmdNr("Cmd_MemID0");

    // Bare socket: the same 4-byte frames, answered by 6-byte reply frames.
    std::vector<qint64> bare;
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, tcpPort);
        if (!s.waitForConnected(10000))
            fail(s.errorString());
        s.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QElapsedTimer t;
        for (int i = 0; i < WarmUp + Rounds; ++i) {
            char f[4];
            qToLittleEndian<quint16>(cmdNr, f);
            qToLittleEndian<quint16>(quint16(i & 0xFF), f + 2);
            t.start();
            s.write(f, 4);
            while (s.bytesAvailable() < 6)
                if (!s.waitForReadyRead(5000))
                    fail(QStringLiteral("bare socket: no reply"));
            const qint64 ns = t.nsecsElapsed();
            s.read(6);
            if (i >= WarmUp)
                bare.push_back(ns);
        }
        s.disconnectFromHost();
    }

    ZunBaseComm link(QHostAddress(QHostAddress::LocalHost), 1, 1080, map);
    link.setPort(tcpPort);
    bool created = false;
    QObject::connect(&link, &ZunBaseComm::signal_SocketCreated, &app, [&created]() { created = true; });
    link.start();
    while (!created) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (total.elapsed() > 10000)
            fail(QStringLiteral("link thread did not start"));
    }
    QMetaObject::invokeMethod(&link, "connectZun", Qt::BlockingQueuedConnection);
    while (!link.isConnected()) {
        QCoreApplication::processEvents();
        if (total.elapsed() > 10000)
            fail(QStringLiteral("link did not connect"));
    }

    std::vector<qint64> viaLink;
    QElapsedTimer t;
    for (int i = 0; i < WarmUp + Rounds; ++i) {
        t.start();
        link.sendCmd(cmdNr, quint16(i & 0xFF));
        const CZunCmd c = nextCmd(&link, total);
        const qint64 ns = t.nsecsElapsed();
        if (!c.isDone() || c.isError())
            fail(QStringLiteral("command not answered"));
        if (i >= WarmUp)
            viaLink.push_back(ns);
    }

    const QByteArray block(1024 * 1024, 'z');
    t.start();
    link.sendMetaCmd(CZunMetaCmd(0xFF00, quint16(block.size()), block));
    const CZunCmd b = nextCmd(&link, total);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    if (!b.isDone())
        fail(QStringLiteral("block write failed"));

    const double linkMedian = percentile(viaLink, 0.5), bareMedian = percentile(bare, 0.5);
    out << "rounds: " << Rounds << " (after " << WarmUp << " warm-up rounds)\n";
    out << QString("link command RTT:   median %1 us, p99 %2 us\n").arg(linkMedian, 0, 'f', 1).arg(percentile(viaLink, 0.99), 0, 'f', 1);
    out << QString("bare socket RTT:    median %1 us, p99 %2 us\n").arg(bareMedian, 0, 'f', 1).arg(percentile(bare, 0.99), 0, 'f', 1);
    out << QString("ratio link / bare:  median %1, p99 %2\n")
               .arg(linkMedian / bareMedian, 0, 'f', 2)
               .arg(percentile(viaLink, 0.99) / percentile(bare, 0.99), 0, 'f', 2);
    out << QString("1 MiB block write:  %1 ms, %2 MiB/s\n").arg(seconds * 1000, 0, 'f', 1).arg(1.0 / seconds, 0, 'f', 1);
    out.flush();

    QMetaObject::invokeMethod(&link, "disconnectZun", Qt::BlockingQueuedConnection);
    proc.write("quit\n");
    if (!proc.waitForFinished(5000))
        proc.kill();
    return 0;
}
