// zunstatusbench: the CPU cost of the status stream as the program receives it, beside a
// bare receive loop of the same datagrams.
//
// Real path: status datagrams of N processors, each every I ms, sent through a UDP socket
// from the processors' own addresses to the discovery object (CZunNetwork, its thread,
// its checks), handed on to the audio-status server in this (the GUI) thread, and read by
// a stand-in for each status tile after every refresh. Bare: a thread that receives the
// same datagrams with a blocking recv() and does nothing else. The sender is a thread of
// its own; its CPU time is not counted. Prints the CPU time per datagram, the share of one
// core and the ratio of the two.
//
// Runs in a private network namespace when it may (as root), so that the discovery's port
// 1234 is its own; otherwise on the loopback addresses of this host.
#include "AudioIOStatusServer.h"
#include "CCmdMap.h"
#include "CZunNetwork.h"
#include "ZunMetaTypes.h"
#include "ZunUdpDatagram.h"

#include <QCommandLineParser>
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
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
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

// A private network namespace with lo up; false when not allowed (not root).
bool enterPrivateNetns()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr {};
    strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0
        && (ifr.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
    if (fd >= 0)
        ::close(fd);
    return up;
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
    // whole time. Returns the datagrams sent; its own CPU time goes to *cpu.
    int stream(quint16 port, double* cpu) const
    {
        const double start = threadCpu();
        const qint64 stepNs = qint64(m_o.intervalMs) * 1000000 / m_o.processors;
        const int total = m_o.seconds * 1000 / m_o.intervalMs * m_o.processors;
        timespec next {};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int i = 0; i < total; ++i) {
            const int p = i % m_o.processors;
            sendOnce(p, port, m_records[p][(i / m_o.processors) % m_records[p].size()]);
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
};

struct Figure
{
    double usPerDatagram = 0;
    double percentOfCore = 0;
    int received = 0;
    int sent = 0;
};

Figure result(double cpu, double wall, int received, int sent)
{
    Figure f;
    f.usPerDatagram = received ? cpu / received * 1e6 : 0;
    f.percentOfCore = cpu / wall * 100;
    f.received = received;
    f.sent = sent;
    return f;
}

// A thread that receives with a blocking recv() until told to stop.
Figure bareLoop(const Sender& sender)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        fail(QStringLiteral("cannot bind the bare receiver: %1").arg(strerror(errno)));
    std::atomic<int> received {0};
    QThread* rx = QThread::create([&] {
        char buf[2048];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n == 1)
                break; // the end marker
            if (n > 0)
                ++received;
        }
    });
    rx->start();
    double senderCpu = 0;
    const double cpu0 = processCpu();
    timespec w0 {}, w1 {};
    clock_gettime(CLOCK_MONOTONIC, &w0);
    const int sent = sender.stream(ntohs(a.sin_port), &senderCpu);
    sender.sendOnce(0, ntohs(a.sin_port), QByteArray(1, '\0'));
    rx->wait();
    clock_gettime(CLOCK_MONOTONIC, &w1);
    const double cpu = processCpu() - cpu0 - senderCpu;
    delete rx;
    ::close(fd);
    return result(cpu, double(w1.tv_sec - w0.tv_sec) + double(w1.tv_nsec - w0.tv_nsec) * 1e-9, received, sent);
}

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

Figure realPath(const Sender& sender, const Options& o)
{
    CZunNetwork net;
    AudioIOStatusServer server;
    QList<QSharedPointer<CCmdMap>> maps;
    double checksum = 0;
    int received = 0;
    QObject::connect(&net, &CZunNetwork::zunStatusDataReceived, &server, &AudioIOStatusServer::setStatusData,
                     Qt::QueuedConnection);
    QObject::connect(&net, &CZunNetwork::zunDetected, &server, [&](QSharedPointer<ZunDeviceStats> stats) {
        auto map = QSharedPointer<CCmdMap>::create();
        map->setVersion(stats->firmware());
        maps << map;
        const auto status = server.addStatus(stats, map);
        QObject::connect(status.data(), &AudioIOStatus::refreshed, &server, [&, s = status.data()] {
            checksum += readTile(*s);
            ++received;
        });
    });
    net.start();

    // The processors announce themselves first, as they answer the ping, again until the
    // discovery (whose socket is bound in its thread) has listed them all.
    const auto announce = [&] {
        for (int p = 0; p < o.processors; ++p) {
            ZunUdpDatagram::Announce a;
            a.mac = CMacAddr::fromSerial(quint16(0x0100 + p));
            a.versionWord = quint16(firmwareOf(p));
            a.name = QStringLiteral("Bench %1").arg(p);
            a.ip = CIpAddr(QHostAddress(processorAddress(p)));
            sender.sendOnce(p, ZunUdpDatagram::Port, ZunUdpDatagram::encodeAnnounce(a));
        }
    };
    QElapsedTimer wait;
    wait.start();
    while (maps.size() < o.processors) {
        announce();
        QEventLoop pause;
        QTimer::singleShot(100, &pause, &QEventLoop::quit);
        pause.exec();
        if (wait.elapsed() > 10000)
            fail(QStringLiteral("the discovery listed %1 of %2 processors (is UDP port %3 free?)")
                     .arg(maps.size()).arg(o.processors).arg(ZunUdpDatagram::Port));
    }

    double senderCpu = 0;
    int sent = 0;
    QThread* tx = QThread::create([&] { sent = sender.stream(ZunUdpDatagram::Port, &senderCpu); });
    const double cpu0 = processCpu();
    timespec w0 {}, w1 {};
    clock_gettime(CLOCK_MONOTONIC, &w0);
    QEventLoop loop;
    QObject::connect(tx, &QThread::finished, &loop, &QEventLoop::quit);
    tx->start();
    loop.exec();
    // What is still on its way.
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
    clock_gettime(CLOCK_MONOTONIC, &w1);
    const double cpu = processCpu() - cpu0 - senderCpu;
    tx->wait();
    delete tx;
    if (checksum == 0)
        fail(QStringLiteral("no status reached the records"));
    return result(cpu, double(w1.tv_sec - w0.tv_sec) + double(w1.tv_nsec - w0.tv_nsec) * 1e-9, received, sent);
}

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
    const bool isolated = enterPrivateNetns();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "CPU cost of the status stream through the discovery thread, the status server and the "
        "records, beside a bare receive loop of the same datagrams."));
    parser.addHelpOption();
    parser.addOption({"processors", "Processors streaming (1-200, default 20).", "n", "20"});
    parser.addOption({"interval", "Interval of each stream in ms (1-2500, default 20).", "ms", "20"});
    parser.addOption({"seconds", "Length of each measurement (1-600, default 5).", "s", "5"});
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
    const Figure bare = bareLoop(sender);
    const Figure real = realPath(sender, o);
    const auto line = [&](const char* name, const Figure& f) {
        out << name << QString::number(f.usPerDatagram, 'f', 1) << " us a datagram, "
            << QString::number(f.percentOfCore, 'f', 2) << " % of one core (" << f.received << " of " << f.sent
            << " datagrams)\n";
    };
    line("bare receive loop:  ", bare);
    line("real status path:   ", real);
    out << "ratio real / bare:  " << QString::number(real.usPerDatagram / bare.usPerDatagram, 'f', 2) << "\n";
    return real.received > 0 ? 0 : 1;
}
