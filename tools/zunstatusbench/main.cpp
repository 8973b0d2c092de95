// zunstatusbench: CPU time per status datagram through the whole status path inside the
// program: the discovery's check in its thread, the queued hand-over to the GUI thread, the
// audio-status server (record refresh, master-mute evaluation) and the getters a status
// tile and the level meters read after each refresh. Prints the time per datagram and the
// share of one core that 20 processors streaming every 20 ms would take. No network.
#include "AudioIOStatusServer.h"
#include "CCmdMap.h"
#include "ZunMetaTypes.h"
#include "ZunUdpDatagram.h"

#include <QCoreApplication>
#include <QThread>
#include <QTextStream>
#include <QtEndian>

#include <cmath>
#include <ctime>

namespace {
constexpr int Processors = 20;
constexpr int DatagramsPerProcessor = 2000;
constexpr int IntervalMs = 20;

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A record of the firmware's size whose levels and reductions change with n.
QByteArray record(int size, int n)
{
    QByteArray r(size, '\0');
    for (int w = 3; w < size / 2; ++w) {
        const quint16 v = quint16(2000 + (std::sin(0.1 * n + w) * 0.5 + 0.5) * 63000);
        qToLittleEndian<quint16>(v, reinterpret_cast<uchar*>(r.data()) + 2 * w);
    }
    qToLittleEndian<quint16>(0xFF70, reinterpret_cast<uchar*>(r.data()) + 2); // idle
    return ZunUdpDatagram::statusDatagram(r);
}

// Stands for the discovery thread: checks every datagram and hands it on queued.
class Source : public QObject
{
    Q_OBJECT
public:
    QList<QPair<quint16, QByteArray>> datagrams;
public slots:
    void run()
    {
        for (const auto& d : qAsConst(datagrams))
            if (ZunUdpDatagram::checkStatus(d.second))
                emit status(d.first, d.second);
    }
signals:
    void status(quint16, QByteArray);
};

// Stands for a status tile per processor: reads what it shows after each refresh.
double readTile(const AudioIOStatus& s)
{
    double sum = 0;
    for (int o = 0; o < 8; ++o) {
        sum += s.GetOutputLevel(o) + s.GetGainReduction(o) + s.GetTemperature(o);
        sum += s.IsPeakLimiting(o) + s.IsThermalLimiting(o) + s.IsOutputMuted(o);
    }
    for (int source = 1; source <= 8; ++source)
        sum += s.GetInputLevel(source) + s.IsOverload(source) + s.IsInputMuted(source);
    return sum + s.IsMasterMuted();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    registerZunMetaTypes();
    QTextStream out(stdout);

    AudioIOStatusServer server;
    QList<QSharedPointer<CCmdMap>> maps;
    Source source;
    for (int p = 0; p < Processors; ++p) {
        auto map = QSharedPointer<CCmdMap>::create();
        map->setVersion(p % 2 ? 1080 : 1076);
        maps << map;
        server.addStatus(quint16(p + 1), map, 0x1191);
    }
    for (int n = 0; n < DatagramsPerProcessor; ++n)
        for (int p = 0; p < Processors; ++p)
            source.datagrams << qMakePair(quint16(p + 1), record(p % 2 ? 108 : 106, n));
    const int total = source.datagrams.size();

    double checksum = 0;
    int received = 0;
    QObject::connect(&server, &AudioIOStatusServer::masterMuteStatusChanged, [](bool) {});
    for (int p = 0; p < Processors; ++p)
        QObject::connect(server.getStatus(quint16(p + 1)).data(), &AudioIOStatus::refreshed, [&, p]() {
            checksum += readTile(*server.getStatus(quint16(p + 1)));
            ++received;
        });
    QObject::connect(&source, &Source::status, &server, &AudioIOStatusServer::setStatusData, Qt::QueuedConnection);

    QThread thread;
    source.moveToThread(&thread);
    thread.start();
    const double start = cpuSeconds();
    QMetaObject::invokeMethod(&source, "run", Qt::QueuedConnection);
    while (received < total)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double cpu = cpuSeconds() - start;
    thread.quit();
    thread.wait();

    const double perDatagramUs = cpu / total * 1e6;
    const double perSecond = Processors * (1000.0 / IntervalMs);
    out << "status datagrams: " << total << " (" << Processors << " processors, 106- and 108-byte records)\n"
        << "CPU time per datagram: " << QString::number(perDatagramUs, 'f', 2) << " us\n"
        << Processors << " processors every " << IntervalMs << " ms (" << perSecond << " datagrams/s): "
        << QString::number(perDatagramUs * perSecond / 1e4, 'f', 3) << " % of one core\n"
        << "(checksum " << QString::number(checksum, 'g', 6) << ")\n";
    return 0;
}

#include "main.moc"
