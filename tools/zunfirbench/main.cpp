// zunfirbench: time to store a FIR/limiter set and a DSP program image in an emulated
// processor's flash through the device object and its managers, next to a bare socket
// doing only the block write's chunk-and-acknowledge loop with the same number of bytes.
// Bounded: a fixed number of rounds and a time limit. Settings and folders are private
// to the run (a temporary home folder).
#include "CCmdMap.h"
#include "CMemoryManager.h"
#include "CRoutingLibrary.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunDSPProgramInfo.h"
#include "ZunDSPProgramManager.h"
#include "ZunDeviceStats.h"
#include "ZunToolName.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <functional>
#include <vector>

namespace
{
constexpr int Rounds = 20;
constexpr int TimeLimitMs = 120000;
constexpr int Taps = 1024;

QTextStream out(stdout);
QElapsedTimer total;

QProcess* g_sim = nullptr;

[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zunfirbench: " << text << Qt::endl;
    // A failing bench leaves no emulator behind.
    if (g_sim && g_sim->state() != QProcess::NotRunning) {
        g_sim->kill();
        g_sim->waitForFinished(3000);
    }
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

void waitFor(const std::function<bool()>& done, const char* what)
{
    while (!done()) {
        if (total.elapsed() > TimeLimitMs)
            fail(QStringLiteral("time limit reached waiting for %1").arg(QLatin1String(what)));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
}

double median(std::vector<qint64> v)
{
    std::sort(v.begin(), v.end());
    return double(v[v.size() / 2]) / 1e6; // ms
}

// One block write on a bare socket: start frame, start ack, then each chunk with its sum
// and its ack. Returns nanoseconds.
qint64 bareBlock(QTcpSocket& s, const QByteArray& block)
{
    auto ack = [&s]() {
        while (s.bytesAvailable() < 10)
            if (!s.waitForReadyRead(5000))
                fail(QStringLiteral("bare socket: no acknowledgement"));
        const QByteArray f = s.read(10);
        if (qFromLittleEndian<quint16>(f.constData()) != 0xFF00)
            fail(QStringLiteral("bare socket: refused"));
    };
    QElapsedTimer t;
    t.start();
    char start[8];
    qToLittleEndian<quint16>(0xFF00, start);
    qToLittleEndian<quint16>(quint16(block.size()), start + 2);
    qToLittleEndian<quint32>(quint32(block.size()), start + 4);
    s.write(start, 8);
    ack();
    for (int off = 0; off < block.size(); off += 4096) {
        const QByteArray chunk = block.mid(off, 4096);
        quint16 sum = 0;
        for (char c : chunk)
            sum = quint16(sum + quint8(c));
        char tail[2];
        qToLittleEndian<quint16>(sum, tail);
        s.write(chunk);
        s.write(tail, 2);
        ack();
    }
    return t.nsecsElapsed();
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home, config;
    qputenv("HOME", home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    zunToolName(argv);
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Time to store FIR/limiter sets and DSP programs in an emulated processor's flash through the "
        "device object, beside a bare chunk-and-acknowledge loop of the same bytes. Takes no arguments."));
    parser.addHelpOption();
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << "zunfirbench: unexpected argument " << parser.positionalArguments().first() << Qt::endl;
        return 2;
    }
    total.start();
    QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).setValue(QStringLiteral("ConfigDir"), config.path());

    const QString sim = qEnvironmentVariableIsSet("ZUNSIM") ? qEnvironmentVariable("ZUNSIM") : QStringLiteral(ZUNSIM_PATH);
    const quint16 tcpPort = freePort(true);
    QProcess proc;
    g_sim = &proc;
    proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc.start(sim, {"--bind", "127.0.0.1", "--tcp-port", QString::number(tcpPort), "--udp-port",
                     QString::number(freePort(false)), "--firmware", "1080", "--serial", "7"});
    QByteArray line;
    while (!line.contains("zunsim ready")) {
        if (!proc.waitForReadyRead(10000))
            fail(QStringLiteral("the emulator %1 did not start").arg(sim));
        line += proc.readAllStandardOutput();
    }

    // The sets and programs to store: each one new to the flash.
    QList<QShPtrFLE> sets;
    for (int i = 0; i < Rounds; ++i) {
        auto s = QShPtrFLE::create(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            s->setOutput(o, QVector<qint32>(Taps, 1000 + i), 16, o);
        s->SetName(QStringLiteral("Bench %1").arg(i));
        s->computeKey();
        sets << s;
    }
    const char* const groups[] = {"0010", "0020", "0030", "0040", "0210", "0310", "0320", "0420", "0421", "1000",
                                  "1010", "1111", "2000", "2020", "2121", "2222", "3030", "3110", "3200", "3210"};
    QList<quint16> programs;
    for (const char* g : groups)
        programs << quint16((g[0] - '0') << 9 | (g[1] - '0') << 6 | (g[2] - '0') << 3 | (g[3] - '0'));
    const int firBytes = sets.first()->toByteArray().size();
    const int dspBytes = ZunDSPProgramInfo(programs.first(), 1080).readProgram().size();

    // Bare loop first, on a connection of its own.
    std::vector<qint64> bareFir, bareDsp;
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, tcpPort);
        if (!s.waitForConnected(10000))
            fail(s.errorString());
        s.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        for (int i = 0; i < Rounds; ++i) {
            bareFir.push_back(bareBlock(s, QByteArray(firBytes, char(i))));
            bareDsp.push_back(bareBlock(s, QByteArray(dspBytes, char(i))));
        }
        s.disconnectFromHost();
    }

    auto record = QSharedPointer<ZunDeviceStats>::create(CMacAddr(0x5A756E000007ull));
    record->setFirmware(1080);
    record->setIpAddress(QHostAddress(QHostAddress::LocalHost));
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(1080);
    std::vector<qint64> viaFir, viaDsp;
    {
        CZun zun(record, map, QSharedPointer<CRoutingLibrary>());
        zun.SetPort(tcpPort);
        bool initialized = false;
        QObject::connect(zun.GetFIRLimManager(), &CZunFIRLimManager::signal_Initialized, &app,
                         [&initialized]() { initialized = true; });
        zun.connect();
        waitFor([&]() { return initialized; }, "the FIR/limiter manager");
        auto idle = [&]() {
            waitFor([&]() { return zun.GetLink()->getCmdBuffer()->isIdle(); }, "an idle link");
            QThread::msleep(20);
            QCoreApplication::processEvents();
            waitFor([&]() { return zun.GetLink()->getCmdBuffer()->isIdle(); }, "an idle link");
        };
        idle();
        QElapsedTimer t;
        for (int i = 0; i < Rounds; ++i) {
            t.start();
            zun.UploadFIRFilter(sets.at(i), 0);
            waitFor([&]() { return zun.GetFIRLimManager()->pendingUploads() == 0; }, "a FIR upload");
            viaFir.push_back(t.nsecsElapsed());
            idle();
            if (!zun.GetMemoryManager()->hasFilterId(sets.at(i)->getKey()))
                waitFor([&]() { return zun.GetMemoryManager()->hasFilterId(sets.at(i)->getKey()); }, "the directory");

            t.start();
            zun.UploadDSPProgram(programs.at(i));
            waitFor([&]() { return zun.GetDSPProgramManager()->pendingUploads() == 0; }, "a program upload");
            viaDsp.push_back(t.nsecsElapsed());
            idle();
        }
        QMetaObject::invokeMethod(zun.GetLink(), "disconnectZun", Qt::BlockingQueuedConnection);
    }

    out << "rounds: " << Rounds << ", each a set or program new to the flash\n";
    out << QString("FIR set (%1 bytes):      via manager median %2 ms, bare chunk loop median %3 ms, ratio %4\n")
               .arg(firBytes).arg(median(viaFir), 0, 'f', 2).arg(median(bareFir), 0, 'f', 2)
               .arg(median(viaFir) / median(bareFir), 0, 'f', 2);
    out << QString("DSP program (%1 bytes):  via manager median %2 ms, bare chunk loop median %3 ms, ratio %4\n")
               .arg(dspBytes).arg(median(viaDsp), 0, 'f', 2).arg(median(bareDsp), 0, 'f', 2)
               .arg(median(viaDsp) / median(bareDsp), 0, 'f', 2);
    out.flush();
    proc.write("quit\n");
    if (!proc.waitForFinished(5000))
        proc.kill();
    return 0;
}
