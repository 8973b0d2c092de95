// zunstatusbench: the CPU cost of the status stream as the program receives it, beside a
// bare receive loop of the same datagrams.
//
// Real path: status datagrams of N processors, each every I ms, sent through a UDP socket
// from the processors' own addresses to the discovery object (CZunNetwork, its thread,
// its checks), handed on to the audio-status server in this (the GUI) thread, and read by
// a stand-in for each status tile after every refresh. Bare: a thread that receives the
// same datagrams and does nothing else, woken as the real path is while streams run: the
// first datagram wakes it, and from then on it takes what has arrived every
// CZunNetwork::StatusBatchMs, until a batch finds none. The sender is a thread of
// its own; its CPU time is not counted. The two take turns of a second each, so that both
// see the same load of the machine. Prints the CPU time per datagram, the share of one
// core, the wake-ups a second of the receiving thread and the GUI thread, the receiving
// thread's own share of a core (the rest of the real path is the GUI thread's), and the
// ratio of the two paths (over the whole run, and the range over the pairs of turns).
//
// Runs in a private network namespace when it may (as root), so that the discovery's port
// 1234 is its own; otherwise on the loopback addresses of this host.
#include "AudioIOStatusServer.h"
#include "CCmdMap.h"
#include "CZunNetwork.h"
#include "ZunMetaTypes.h"
#include "ZunPrivateNetns.h"
#include "ZunUdpDatagram.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QCoreApplication>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
struct Options
{
    int processors = 20;
    int intervalMs = 20;
    int seconds = 5;
};

double processCpu()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double threadCpu()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zunstatusbench: " << text << Qt::endl;
    ::exit(1);
}

// Processor p sends from 127.0.0.(2 + p).
quint32 processorAddress(int p) { return (127u << 24) + 2u + quint32(p); }

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

int firmwareOf(int p) { return p % 2 ? 1080 : 1076; }

// The processors: one socket each, bound to its own loopback address.
class Sender
{
public:
    explicit Sender(const Options& o) : m_o(o)
    {
        for (int p = 0; p < o.processors; ++p) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(processorAddress(p));
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
                fail(QStringLiteral("cannot bind 127.0.0.%1: %2").arg(2 + p).arg(strerror(errno)));
            m_fds << fd;
            QList<QByteArray> own;
            for (int n = 0; n < 64; ++n)
                own << record(firmwareOf(p) >= 1077 ? 108 : 106, n);
            m_records << own;
        }
    }
    ~Sender()
    {
        for (int fd : qAsConst(m_fds))
            ::close(fd);
    }

    void sendOnce(int p, quint16 port, const QByteArray& d) const
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(m_fds[p], d.constData(), size_t(d.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    // The stream: one datagram every interval / processors, processors in turn, for the
    // given time. Returns the datagrams sent; its own CPU time goes to *cpu.
    int stream(quint16 port, int seconds, double* cpu) const
    {
        const double start = threadCpu();
        const qint64 stepNs = qint64(m_o.intervalMs) * 1000000 / m_o.processors;
        const int total = qMax(1, seconds * 1000 / m_o.intervalMs) * m_o.processors;
        timespec next {};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int i = 0; i < total; ++i) {
            const int p = i % m_o.processors;
            sendOnce(p, port, m_records[p][(m_next++ / m_o.processors) % m_records[p].size()]);
            next.tv_nsec += long(stepNs);
            while (next.tv_nsec >= 1000000000L) {
                next.tv_nsec -= 1000000000L;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
        *cpu = threadCpu() - start;
        return total;
    }

private:
    Options m_o;
    QList<int> m_fds;
    QList<QList<QByteArray>> m_records;
    mutable int m_next = 0; // the records go on changing from one turn to the next
};

// The times a thread of this process (by its kernel id) went to sleep to be woken again.
qint64 wakeUps(pid_t tid)
{
    QFile status(QStringLiteral("/proc/self/task/%1/status").arg(tid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& l : status.readAll().split('\n'))
        if (l.startsWith("voluntary_ctxt_switches:"))
            return l.mid(24).trimmed().toLongLong();
    return 0;
}

pid_t currentTid() { return pid_t(::syscall(SYS_gettid)); }

// The CPU time a thread of this process (by its kernel id) has run, in seconds.
double threadCpu(pid_t tid)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    return stat.readAll().split(' ').value(0).toDouble() * 1e-9;
}

struct Figure
{
    double cpu = 0;         // seconds, the receiving side only
    double wall = 0;        // seconds of streaming
    qint64 received = 0;
    qint64 sent = 0;
    qint64 guiWakeUps = 0;
    qint64 rxWakeUps = 0;   // the receiving thread: the bare loop's, or the discovery's
    double rxCpu = 0;       // seconds of the receiving thread alone

    double usPerDatagram() const { return received ? cpu / double(received) * 1e6 : 0; }
    double percentOfCore() const { return wall > 0 ? cpu / wall * 100 : 0; }
};

// Stands for a status tile: reads what it shows after each refresh.
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

// Both receivers stand ready for the whole run; the sender streams to one of them at a
// time, in turns, so that both see the same load of the machine.
class Bench
{
public:
    Bench(const Sender& sender, const Options& o) : m_sender(sender), m_o(o) {}
    ~Bench()
    {
        if (m_rx) {
            m_sender.sendOnce(0, m_barePort, QByteArray(1, '\0')); // the end marker
            m_rx->wait();
            delete m_rx;
        }
        if (m_bareFd >= 0)
            ::close(m_bareFd);
    }

    void setUp()
    {
        // The bare receiver: a thread that receives with a blocking recv() and counts.
        m_bareFd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_bareFd < 0 || ::bind(m_bareFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
            || ::getsockname(m_bareFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            fail(QStringLiteral("cannot bind the bare receiver: %1").arg(strerror(errno)));
        m_barePort = ntohs(a.sin_port);
        std::atomic<bool> started {false};
        m_rx = QThread::create([this, &started] {
            m_bareTid = currentTid();
            started = true;
            char buf[2048];
            // True at the end marker.
            const auto take = [&](ssize_t n) {
                if (n == 1)
                    return true;
                if (n > 0)
                    ++m_bareReceived;
                return false;
            };
            for (;;) {
                if (take(::recv(m_bareFd, buf, sizeof buf, 0)))
                    return;
                for (bool any = true; any;) {
                    const timespec batch {0, long(CZunNetwork::StatusBatchMs) * 1000000L};
                    clock_nanosleep(CLOCK_MONOTONIC, 0, &batch, nullptr);
                    any = false;
                    for (ssize_t n; (n = ::recv(m_bareFd, buf, sizeof buf, MSG_DONTWAIT)) > 0; any = true)
                        if (take(n))
                            return;
                }
            }
        });
        m_rx->start();
        while (!started)
            QThread::msleep(1);

        // The real path: the discovery object in its thread, the status server and the
        // tiles in this one.
        QObject::connect(&m_net, &CZunNetwork::zunStatusBatchReceived, &m_server, &AudioIOStatusServer::setStatusBatch,
                         Qt::QueuedConnection);
        // The datagrams handed on (the tiles are told once a record and batch, not once a
        // datagram), counted where they are handed.
        QObject::connect(&m_net, &CZunNetwork::zunStatusBatchReceived, &m_net,
                         [this](const ZunStatusBatch& batch) { m_realReceived += batch.size(); }, Qt::DirectConnection);
        QObject::connect(&m_net, &CZunNetwork::zunDetected, &m_server, [this](QSharedPointer<ZunDeviceStats> stats) {
            auto map = QSharedPointer<CCmdMap>::create();
            map->setVersion(stats->firmware());
            m_maps << map;
            const auto status = m_server.addStatus(stats, map);
            QObject::connect(status.data(), &AudioIOStatus::refreshed, &m_server, [this, s = status.data()] {
                m_checksum += readTile(*s);
            });
        });
        m_net.start();
        QMetaObject::invokeMethod(&m_net, [this] { m_netTid = currentTid(); }, Qt::BlockingQueuedConnection);

        // The processors announce themselves first, as they answer the ping, again until
        // the discovery (whose socket is bound in its thread) has listed them all.
        QElapsedTimer wait;
        wait.start();
        while (m_maps.size() < m_o.processors) {
            for (int p = 0; p < m_o.processors; ++p) {
                ZunUdpDatagram::Announce an;
                an.mac = CMacAddr::fromSerial(quint16(0x0100 + p));
                an.versionWord = quint16(firmwareOf(p));
                an.name = QStringLiteral("Bench %1").arg(p);
                an.ip = CIpAddr(QHostAddress(processorAddress(p)));
                m_sender.sendOnce(p, ZunUdpDatagram::Port, ZunUdpDatagram::encodeAnnounce(an));
            }
            QEventLoop pause;
            QTimer::singleShot(100, &pause, &QEventLoop::quit);
            pause.exec();
            if (wait.elapsed() > 10000)
                fail(QStringLiteral("the discovery listed %1 of %2 processors (is UDP port %3 free?)")
                         .arg(m_maps.size()).arg(m_o.processors).arg(ZunUdpDatagram::Port));
        }
    }

    // One turn of streaming to the bare receiver or the real path; adds to the figure.
    void turn(bool real, int seconds, Figure* f)
    {
        const pid_t rxTid = real ? m_netTid : m_bareTid;
        const qint64 received0 = real ? m_realReceived.load() : m_bareReceived.load();
        const qint64 gui0 = wakeUps(m_guiTid), rx0 = wakeUps(rxTid);
        const double rxCpu0 = threadCpu(rxTid);
        double senderCpu = 0;
        int sent = 0;
        timespec w0 {}, w1 {};
        QThread* tx = QThread::create([&] {
            clock_gettime(CLOCK_MONOTONIC, &w0);
            sent = m_sender.stream(real ? ZunUdpDatagram::Port : m_barePort, seconds, &senderCpu);
            clock_gettime(CLOCK_MONOTONIC, &w1);
        });
        const double cpu0 = processCpu();
        QEventLoop loop;
        QObject::connect(tx, &QThread::finished, &loop, &QEventLoop::quit);
        tx->start();
        loop.exec();
        // What is still on its way (a batch is handed on every CZunNetwork::StatusBatchMs).
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpu = processCpu() - cpu0 - senderCpu;
        tx->wait();
        delete tx;
        const qint64 gui1 = wakeUps(m_guiTid), rx1 = wakeUps(rxTid);
        f->rxCpu += threadCpu(rxTid) - rxCpu0;
        f->cpu += cpu;
        f->wall += double(w1.tv_sec - w0.tv_sec) + double(w1.tv_nsec - w0.tv_nsec) * 1e-9;
        f->received += (real ? m_realReceived.load() : m_bareReceived.load()) - received0;
        f->sent += sent;
        f->guiWakeUps += gui1 - gui0;
        f->rxWakeUps += rx1 - rx0;
    }

    bool reachedRecords() const { return m_checksum != 0; }

private:
    const Sender& m_sender;
    Options m_o;
    CZunNetwork m_net;
    AudioIOStatusServer m_server;
    QList<QSharedPointer<CCmdMap>> m_maps;
    double m_checksum = 0;
    std::atomic<qint64> m_realReceived {0};
    std::atomic<qint64> m_bareReceived {0};
    int m_bareFd = -1;
    quint16 m_barePort = 0;
    QThread* m_rx = nullptr;
    pid_t m_guiTid = currentTid();
    pid_t m_bareTid = 0;
    pid_t m_netTid = 0;
};

int positive(const QCommandLineParser& p, const QString& name, int max)
{
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < 1 || v > max) {
        QTextStream(stderr) << "zunstatusbench: --" << name << " takes a whole number from 1 to " << max << Qt::endl;
        ::exit(2);
    }
    return v;
}
} // namespace

int main(int argc, char** argv)
{
    const bool isolated = zunEnterPrivateNetns();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "CPU cost of the status stream through the discovery thread, the status server and the "
        "records, beside a bare receive loop of the same datagrams."));
    parser.addHelpOption();
    parser.addOption({"processors", "Processors streaming (1-200, default 20).", "n", "20"});
    parser.addOption({"interval", "Interval of each stream in ms (1-2500, default 20).", "ms", "20"});
    parser.addOption({"seconds", "Seconds of each path, in turns of one second (1-600, default 10).", "s", "10"});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << "zunstatusbench: unexpected argument " << parser.positionalArguments().first() << Qt::endl;
        return 2;
    }
    Options o;
    o.processors = positive(parser, "processors", 200);
    o.intervalMs = positive(parser, "interval", 2500);
    o.seconds = positive(parser, "seconds", 600);
    if (o.seconds * 1000 < o.intervalMs) {
        QTextStream(stderr) << "zunstatusbench: --seconds must cover at least one interval" << Qt::endl;
        return 2;
    }
    registerZunMetaTypes();
    registerDiscoveryMetaTypes();

    QTextStream out(stdout);
    out << (isolated ? "private network namespace" : "loopback of this host (not root: no private namespace)") << ", "
        << o.processors << " processors every " << o.intervalMs << " ms ("
        << o.processors * 1000.0 / o.intervalMs << " datagrams/s) for " << o.seconds << " s\n";
    out.flush();

    const Sender sender(o);
    Bench bench(sender, o);
    bench.setUp();
    Figure bare, real;
    double lowest = 1e9, highest = 0;
    for (int t = 0; t < o.seconds; ++t) {
        Figure b, r;
        bench.turn(false, 1, &b);
        bench.turn(true, 1, &r);
        for (Figure* f : {&bare, &real}) {
            const Figure& x = f == &bare ? b : r;
            f->cpu += x.cpu;
            f->wall += x.wall;
            f->received += x.received;
            f->sent += x.sent;
            f->guiWakeUps += x.guiWakeUps;
            f->rxWakeUps += x.rxWakeUps;
            f->rxCpu += x.rxCpu;
        }
        if (b.usPerDatagram() > 0) {
            lowest = qMin(lowest, r.usPerDatagram() / b.usPerDatagram());
            highest = qMax(highest, r.usPerDatagram() / b.usPerDatagram());
        }
    }
    if (!bench.reachedRecords())
        fail(QStringLiteral("no status reached the records"));
    const auto line = [&](const char* name, const Figure& f, const char* rx) {
        out << name << QString::number(f.usPerDatagram(), 'f', 1) << " us a datagram, "
            << QString::number(f.percentOfCore(), 'f', 2) << " % of one core (" << f.received << " of " << f.sent
            << " datagrams); wake-ups a second: " << rx << " " << qRound64(double(f.rxWakeUps) / f.wall)
            << ", GUI thread " << qRound64(double(f.guiWakeUps) / f.wall) << "; " << rx << " alone "
            << QString::number(f.rxCpu / f.wall * 100, 'f', 2) << " % of one core\n";
    };
    line("bare receive loop:  ", bare, "receiver");
    line("real status path:   ", real, "discovery thread");
    out << "ratio real / bare:  " << QString::number(real.usPerDatagram() / bare.usPerDatagram(), 'f', 2)
        << " (pairs of turns: " << QString::number(lowest, 'f', 2) << " to " << QString::number(highest, 'f', 2)
        << "; goal: at most 2, the bare loop taking batches as the real path does, and at most 1 % of one core)\n";
    return real.received == real.sent ? 0 : 1;
}
