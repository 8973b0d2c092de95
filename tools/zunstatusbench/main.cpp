// zunstatusbench: the CPU cost of the status stream as the program receives it, beside a
// bare receive loop and a two-thread floor of the same datagrams.
//
// Real path: status datagrams of N processors, each every I ms while a request of the program is in
// force (the processors stream only when asked, from the processors' port), sent through a UDP socket
// from the processors' own addresses to the discovery object (CZunNetwork, its reader
// thread, its checks), handed on to the audio-status server in this (the GUI) thread, and read
// after each batch by a stand-in for each status tile, told as the monitor's tiles are; with
// --monitor, by the program's own status monitor instead (one real tile a processor, shown),
// as in the program with the monitor open, and then the time from a one-datagram clip to
// its tile's lamp. The streams are asked for as the program asks for them (the discovery
// batches by what it asked for). Bare: a thread that receives the same datagrams and does nothing else,
// woken as the real path is while streams run: the first datagram wakes it, and from then
// on it takes what has arrived every batch period the discovery chooses for the streams'
// interval (CZunNetwork::batchMsFor), until a batch finds none.
// Floor: the same reader, handing each batch it took to this (the GUI) thread through a
// queued call, as the discovery does: the two wake-ups a batch the program's design
// costs, without its work. The bare and floor sockets ask for the buffer the discovery's
// socket asks for (CZunNetwork::ReceiveBufferBytes). The sender is a thread of its own;
// its CPU time is not counted. The three take turns of a second each, so that all see the
// same load of the machine. Prints the CPU time per datagram, the share of one core, the
// wake-ups a second of the receiving thread and the GUI thread, the receiving thread's own
// share of a core (the rest of the real path is the GUI thread's), and the ratios of the
// real path to the floor and to the bare loop (over the whole run, and the range over the
// rounds of turns).
//
// Runs in a private network namespace when it may (as root), so that the discovery's port
// 1234 is its own; otherwise on the loopback addresses of this host.
#include "AudioIOStatusServer.h"
#include "CCmdMap.h"
#include "CZunNetwork.h"
#include "CZunStatusMonitorDialog.h"
#include "ZunStatusDisplay.h"
#include "ZunToolName.h"
#include "ZunMetaTypes.h"
#include "ZunPrivateNetns.h"
#include "ZunUdpDatagram.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <memory>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace
{
struct Options
{
    int processors = 20;
    int intervalMs = 20;
    int seconds = 5;
    bool monitor = false;
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

// One-datagram clips timed to the tile's lamp with --monitor.
constexpr int ClipTrials = 60;

// Processor p has the serial FirstSerial + p and sends from 127.0.0.(2 + p).
constexpr quint16 FirstSerial = 0x0100;
quint32 processorAddress(int p) { return (127u << 24) + 2u + quint32(p); }

// A record as a processor with signal on every input and output sends it: its levels,
// gain reductions and temperatures move with n (the levels always above the tiles' signal
// thresholds); every other word (status, mute, limiter flags, sample rate, DSP load) stays,
// as it does while nobody changes the processor.
QByteArray record(int firmware, int n, bool clip = false)
{
    CCmdMap map;
    map.setVersion(quint16(firmware));
    QByteArray r(map.getCmdNr("Inf_DSP_StatSize"), '\0');
    const auto put = [&r](int index, quint16 v) {
        if (2 * index + 2 <= r.size())
            qToLittleEndian<quint16>(v, reinterpret_cast<uchar*>(r.data()) + 2 * index);
    };
    put(map.getCmdNr("Stat_Status"), quint16(map.getCmdNr("Msg_StatusIdle")));
    for (int dsp = 0; dsp < 2; ++dsp) {
        put(map.getCmdNr(QStringLiteral("Stat_%1_SR").arg(dsp)), 48000 / 4);
        put(map.getCmdNr(QStringLiteral("Stat_%1_CycMain").arg(dsp)), 1200 << 2);
        for (int i = 0; i < 4; ++i) {
            const double x = std::sin(0.1 * n + 4 * dsp + i) * 0.5 + 0.5;
            put(map.getCmdNr(QStringLiteral("Stat_%1_LevelIn%2").arg(dsp).arg(i)), quint16(20000 + x * 40000));
            put(map.getCmdNr(QStringLiteral("Stat_%1_LevelOut%2").arg(dsp).arg(i)), quint16(20000 + x * 40000));
            put(map.getCmdNr(QStringLiteral("Stat_%1_GainRed%2").arg(dsp).arg(i)), quint16(20000 + x * 12512));
            put(map.getCmdNr(QStringLiteral("Stat_%1_Temp%2").arg(dsp).arg(i)), quint16(300 + x * 200));
        }
    }
    if (clip) // the first input at full scale: the tile's "CLP" of source 1
        put(map.getCmdNr("Stat_0_LevelIn0"), 65535);
    return ZunUdpDatagram::statusDatagram(r);
}

// Both record layouts, but in the status monitor, which shows processors from 1077 on.
int firmwareOf(int p, const Options& o) { return o.monitor || p % 2 ? 1080 : 1076; }

// Eight outputs, inputs 1 2 1 2 3 4 3 4 on the slots (routing preset 4): four input columns
// and eight output columns a tile.
constexpr quint32 EightOutputs = 0x0F80;
constexpr quint16 Routing41 = 0x21A1;

// A socket's receive buffer as the discovery asks for it (the system may give less).
void programBuffer(int fd)
{
    const int bytes = CZunNetwork::ReceiveBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// The processors: one socket each, bound to the processors' port on its own loopback
// address, so that the discovery's requests reach the processor they are meant for (and
// not the discovery's own socket). A processor streams only while a request it took is in
// force, as processors do: a program that asks nothing receives nothing.
class Sender
{
public:
    explicit Sender(const Options& o) : m_o(o), m_askedUntilNs(size_t(o.processors))
    {
        for (int p = 0; p < o.processors; ++p) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            const int on = 1;
            if (fd >= 0)
                ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_port = htons(ZunUdpDatagram::Port);
            a.sin_addr.s_addr = htonl(processorAddress(p));
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
                fail(QStringLiteral("cannot bind 127.0.0.%1:%2: %3").arg(2 + p).arg(ZunUdpDatagram::Port).arg(strerror(errno)));
            m_fds << fd;
            QList<QByteArray> own;
            for (int n = 0; n < 64; ++n)
                own << record(firmwareOf(p, o), n);
            m_records << own;
            m_clipRecords << record(firmwareOf(p, o), 0, true);
        }
        if (::pipe(m_stop) != 0)
            fail(QStringLiteral("cannot make a pipe: %1").arg(strerror(errno)));
        m_listener = QThread::create([this] { listen(); });
        m_listener->setObjectName(QStringLiteral("processors"));
        m_listener->start();
    }
    ~Sender()
    {
        const char end = 0;
        if (::write(m_stop[1], &end, 1) != 1)
            ::perror("zunstatusbench: stopping the processors");
        m_listener->wait();
        delete m_listener;
        ::close(m_stop[0]);
        ::close(m_stop[1]);
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

    // The streams: a step every interval / processors, processors in turn, for the given
    // time; a processor sends at its step while a request is in force. Returns the
    // datagrams sent; its own CPU time goes to *cpu.
    int stream(quint16 port, int seconds, double* cpu) const
    {
        const double start = threadCpu();
        const qint64 stepNs = qint64(m_o.intervalMs) * 1000000 / m_o.processors;
        const int steps = qMax(1, seconds * 1000 / m_o.intervalMs) * m_o.processors;
        int sent = 0;
        timespec next {};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int i = 0; i < steps && !m_stopStream.load(); ++i) {
            const int p = i % m_o.processors;
            if (nowNs() < m_askedUntilNs[size_t(p)].load()) {
                int clipping = p;
                if (m_clipFor.compare_exchange_strong(clipping, -1)) {
                    m_clipSentNs = nowNs();
                    sendOnce(p, port, m_clipRecords[p]);
                } else {
                    sendOnce(p, port, m_records[p][(m_next / m_o.processors) % m_records[p].size()]);
                }
                ++sent;
            }
            ++m_next;
            next.tv_nsec += long(stepNs);
            while (next.tv_nsec >= 1000000000L) {
                next.tv_nsec -= 1000000000L;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
        *cpu = threadCpu() - start;
        return sent;
    }

    int requests() const { return m_requests.load(); }
    // Ends a stream before its time (from another thread).
    void stopStream(bool stop) const { m_stopStream = stop; }
    // Processor p's next datagram reports a clip of its first input, that datagram alone.
    void clipOnce(int p) const { m_clipFor = p; }
    bool clipPending() const { return m_clipFor.load() >= 0; }
    qint64 clipSentNs() const { return m_clipSentNs.load(); }
    static qint64 nowNs()
    {
        timespec t {};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return qint64(t.tv_sec) * 1000000000LL + t.tv_nsec;
    }
    // The interval of a request unlike the bench's own (0: none was).
    int otherInterval() const { return m_otherInterval.load(); }

private:
    // Takes the status requests as they come: each puts its stream in force for its
    // interval times its count.
    void listen()
    {
        QVector<pollfd> fds;
        fds.append(pollfd {m_stop[0], POLLIN, 0});
        for (int fd : qAsConst(m_fds))
            fds.append(pollfd {fd, POLLIN, 0});
        char buf[2048];
        for (;;) {
            if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0 && errno != EINTR)
                return;
            if (fds[0].revents)
                return;
            for (int p = 0; p < m_fds.size(); ++p) {
                if (!(fds[p + 1].revents & POLLIN))
                    continue;
                for (ssize_t n; (n = ::recv(m_fds[p], buf, sizeof buf, MSG_DONTWAIT)) > 0;) {
                    quint16 intervalMs = 0, count = 0;
                    if (!ZunUdpDatagram::decodeStatusRequest(QByteArray::fromRawData(buf, int(n)), &intervalMs, &count))
                        continue; // a ping: the bench's processors announced themselves already
                    ++m_requests;
                    if (intervalMs != m_o.intervalMs)
                        m_otherInterval = intervalMs;
                    m_askedUntilNs[size_t(p)] = nowNs() + qint64(intervalMs) * count * 1000000LL;
                }
            }
        }
    }

    Options m_o;
    QList<int> m_fds;
    QList<QList<QByteArray>> m_records;
    QList<QByteArray> m_clipRecords;
    mutable int m_next = 0; // the records go on changing from one turn to the next
    mutable std::atomic<int> m_clipFor {-1};
    mutable std::atomic<bool> m_stopStream {false};
    mutable std::atomic<qint64> m_clipSentNs {0};
    std::vector<std::atomic<qint64>> m_askedUntilNs;
    std::atomic<int> m_requests {0};
    std::atomic<int> m_otherInterval {0};
    int m_stop[2] = {-1, -1};
    QThread* m_listener = nullptr;
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

// The receivers stand ready for the whole run; the sender streams to one of them at a
// time, in turns, so that all see the same load of the machine.
class Bench
{
public:
    Bench(const Sender& sender, const Options& o) : m_sender(sender), m_o(o) {}
    enum Path { Bare, Floor, Real };

    ~Bench()
    {
        for (Reader& r : m_readers) {
            if (r.thread) {
                m_sender.sendOnce(0, r.port, QByteArray(1, '\0')); // the end marker
                r.thread->wait();
                delete r.thread;
            }
            if (r.fd >= 0)
                ::close(r.fd);
        }
        delete m_monitor;
    }

    void setUp()
    {
        startReader(m_readers[Bare], false);
        startReader(m_readers[Floor], true);
        if (m_o.monitor) {
            m_monitor = new CZunStatusMonitorDialog;
            m_monitor->resize(1366, 768);
            m_monitor->show();
        }

        // The real path: the discovery object in its thread, the status server and the
        // tiles in this one.
        QObject::connect(&m_net, &CZunNetwork::zunStatusBatchReceived, &m_server, &AudioIOStatusServer::setStatusBatch,
                         Qt::QueuedConnection);
        // The datagrams handed on (the tiles are told once a record and batch, not once a
        // datagram), counted where they are handed.
        QObject::connect(&m_net, &CZunNetwork::zunStatusBatchReceived, &m_net,
                         [this](const ZunStatusBatch& batch) {
                             m_realReceived += batch.size();
                             m_readerTid = currentTid(); // the thread that reads the socket
                         }, Qt::DirectConnection);
        QObject::connect(&m_net, &CZunNetwork::zunDetected, &m_server, [this](QSharedPointer<ZunDeviceStats> stats) {
            auto map = QSharedPointer<CCmdMap>::create();
            map->setVersion(stats->firmware());
            m_maps << map;
            const auto status = m_server.addStatus(stats, map);
            const int index = stats->serial() - FirstSerial;
            if (index >= 0 && index < m_statuses.size())
                m_statuses[index] = status;
            // The tiles are the records' only readers, as in the program.
            if (m_monitor)
                m_monitor->addStatusWindow(stats, status);
        });
        // The stand-in tiles are told as the monitor's are: once a batch, tile after tile.
        if (!m_monitor)
            QObject::connect(&m_server, &AudioIOStatusServer::signal_batchRefreshed, &m_server,
                             [this](const QVector<quint16>& serials) {
                                 for (const quint16 serial : serials)
                                     if (const AudioIOStatus* status = m_statuses.value(serial - FirstSerial).data())
                                         m_checksum += readTile(*status);
                             });
        m_net.start();
        QMetaObject::invokeMethod(&m_net, [this] { m_netTid = currentTid(); }, Qt::BlockingQueuedConnection);
        // The streams are asked for as the program asks: by the status monitor, or by a
        // control window's meters every 2300 ms. The processors stream only when asked.
        if (m_monitor) {
            QObject::connect(m_monitor, &CZunStatusMonitorDialog::signal_statusTxTimeOut, &m_net,
                             &CZunNetwork::triggerStatusTxOf);
            m_monitor->followStatusServer(&m_server);
        } else {
            m_asking.setInterval(2300);
            QObject::connect(&m_asking, &QTimer::timeout, &m_net, [this] { askForStreams(); });
        }

        // The processors announce themselves first, as they answer the ping, again until
        // the discovery (whose socket is bound in its thread) has listed them all.
        QElapsedTimer wait;
        wait.start();
        while (m_maps.size() < m_o.processors) {
            for (int p = 0; p < m_o.processors; ++p) {
                ZunUdpDatagram::Announce an;
                an.mac = CMacAddr::fromSerial(quint16(FirstSerial + p));
                an.versionWord = quint16(firmwareOf(p, m_o));
                an.hardwareWord = EightOutputs;
                an.routingWord = Routing41;
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
        if (m_monitor) {
            m_monitor->triggerStatusTx();
        } else {
            askForStreams();
            m_asking.start();
        }
        // The tiles laid out and painted once before anything is measured.
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
    }

    // One turn of streaming to one path; adds to the figure.
    void turn(Path path, int seconds, Figure* f)
    {
        const bool real = path == Real;
        // The real path receives in two threads: the discovery's own, and its reader.
        QList<pid_t> rxTids {real ? m_netTid : m_readers[path].tid};
        if (real && m_readerTid != 0 && m_readerTid != m_netTid)
            rxTids << m_readerTid;
        const auto rxWakeUps = [&] {
            qint64 sum = 0;
            for (pid_t tid : qAsConst(rxTids))
                sum += wakeUps(tid);
            return sum;
        };
        const auto rxCpu = [&] {
            double sum = 0;
            for (pid_t tid : qAsConst(rxTids))
                sum += threadCpu(tid);
            return sum;
        };
        std::atomic<qint64>& count = real ? m_realReceived : m_readers[path].received;
        const qint64 received0 = count.load();
        const qint64 gui0 = wakeUps(m_guiTid), rx0 = rxWakeUps();
        const double rxCpu0 = rxCpu();
        double senderCpu = 0;
        int sent = 0;
        timespec w0 {}, w1 {};
        QThread* tx = QThread::create([&] {
            clock_gettime(CLOCK_MONOTONIC, &w0);
            sent = m_sender.stream(real ? ZunUdpDatagram::Port : m_readers[path].port, seconds, &senderCpu);
            clock_gettime(CLOCK_MONOTONIC, &w1);
        });
        tx->setObjectName(QStringLiteral("sender"));
        const double cpu0 = processCpu();
        QEventLoop loop;
        QObject::connect(tx, &QThread::finished, &loop, &QEventLoop::quit);
        tx->start();
        loop.exec();
        // What is still on its way (a batch is handed on every CZunNetwork::batchMsFor()).
        QTimer::singleShot(CZunNetwork::batchMsFor(m_o.intervalMs) + 10, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpu = processCpu() - cpu0 - senderCpu;
        tx->wait();
        delete tx;
        const qint64 gui1 = wakeUps(m_guiTid), rx1 = rxWakeUps();
        f->rxCpu += rxCpu() - rxCpu0;
        f->cpu += cpu;
        f->wall += double(w1.tv_sec - w0.tv_sec) + double(w1.tv_nsec - w0.tv_nsec) * 1e-9;
        f->received += count.load() - received0;
        f->sent += sent;
        f->guiWakeUps += gui1 - gui0;
        f->rxWakeUps += rx1 - rx0;
    }

    // The time from the datagram that reports a clip (that datagram alone; the next one is
    // quiet again) to the batch that lights the tile's lamp: each trial waits for the lamp
    // to be dark, has one processor report a clip once, and times the batch whose refresh
    // shows it. Milliseconds, one a trial; empty without the monitor.
    QVector<double> clipLatencies(int trials)
    {
        QVector<double> ms;
        if (!m_monitor)
            return ms;
        int p = 0;
        bool waitingDark = true;
        const auto lamp = [this](int processor) {
            const ZunStatusDisplay* tile = m_monitor->getStatusDisplay(quint16(FirstSerial + processor));
            return tile && tile->indicatorState(false, QStringLiteral("CLP"), 1);
        };
        QEventLoop loop;
        // After the monitor's own refresh of the batch's tiles (connected before).
        const QMetaObject::Connection c = QObject::connect(&m_server, &AudioIOStatusServer::signal_batchRefreshed, &loop,
                                                           [&](const QVector<quint16>&) {
            if (waitingDark) {
                if (!lamp(p)) {
                    waitingDark = false;
                    m_sender.clipOnce(p);
                }
                return;
            }
            if (m_sender.clipPending() || !lamp(p))
                return;
            ms << double(Sender::nowNs() - m_sender.clipSentNs()) / 1e6;
            if (ms.size() >= trials)
                loop.quit();
            p = (p + 7) % m_o.processors; // spread over the processors
            waitingDark = true;
        });
        double cpu = 0;
        QThread* tx = QThread::create([&] { m_sender.stream(ZunUdpDatagram::Port, trials, &cpu); });
        QObject::connect(tx, &QThread::finished, &loop, &QEventLoop::quit);
        tx->start();
        loop.exec();
        QObject::disconnect(c);
        m_sender.stopStream(true);
        tx->wait();
        delete tx;
        m_sender.stopStream(false);
        return ms;
    }

    bool reachedRecords() const
    {
        bool any = m_checksum != 0;
        for (const auto& status : m_statuses)
            any = any || (status && status->GetOutputLevel(0) > ZunStatusDisplay::OutputSignalLevel);
        return any;
    }

private:
    void askForStreams()
    {
        QList<quint16> serials;
        for (int p = 0; p < m_o.processors; ++p)
            serials << quint16(FirstSerial + p);
        m_net.triggerStatusTxOf(serials, m_o.intervalMs);
    }

    // A bare or floor receiver: a thread that blocks until a datagram comes, then takes
    // what has arrived every batch period (CZunNetwork::batchMsFor) until a batch finds
    // none. The floor's hands each batch to the GUI thread (queued); the bare one keeps it.
    struct Reader
    {
        int fd = -1;
        quint16 port = 0;
        QThread* thread = nullptr;
        pid_t tid = 0;
        std::atomic<qint64> received {0};
    };

    void startReader(Reader& r, bool handOn)
    {
        r.fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (r.fd < 0 || ::bind(r.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
            || ::getsockname(r.fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            fail(QStringLiteral("cannot bind a receiver: %1").arg(strerror(errno)));
        programBuffer(r.fd);
        r.port = ntohs(a.sin_port);
        std::atomic<bool> started {false};
        r.thread = QThread::create([this, &r, &started, handOn] {
            r.tid = currentTid();
            started = true;
            // The batch as read: the datagrams one after another.
            QByteArray batch;
            int datagrams = 0;
            char buf[2048];
            // True at the end marker.
            const auto take = [&](ssize_t n) {
                if (n == 1)
                    return true;
                if (n > 0) {
                    ++datagrams;
                    if (handOn)
                        batch.append(buf, int(n));
                }
                return false;
            };
            const auto handOver = [&] {
                if (handOn && datagrams > 0)
                    QMetaObject::invokeMethod(&m_floorTaker, [this, batch, datagrams] {
                        m_readers[Floor].received += datagrams;
                        m_checksum += batch.size() > 0;
                    }, Qt::QueuedConnection);
                else
                    r.received += datagrams;
                batch = QByteArray();
                datagrams = 0;
            };
            for (;;) {
                if (take(::recv(r.fd, buf, sizeof buf, 0)))
                    return;
                for (bool any = true; any;) {
                    const timespec pause {0, long(CZunNetwork::batchMsFor(m_o.intervalMs)) * 1000000L};
                    clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
                    any = false;
                    for (ssize_t n; (n = ::recv(r.fd, buf, sizeof buf, MSG_DONTWAIT)) > 0; any = true)
                        if (take(n))
                            return;
                    handOver();
                }
            }
        });
        r.thread->setObjectName(handOn ? QStringLiteral("floor") : QStringLiteral("bare"));
        r.thread->start();
        while (!started)
            QThread::msleep(1);
    }

    const Sender& m_sender;
    Options m_o;
    CZunNetwork m_net;
    AudioIOStatusServer m_server;
    CZunStatusMonitorDialog* m_monitor = nullptr;
    QList<QSharedPointer<CCmdMap>> m_maps;
    QVector<QSharedPointer<AudioIOStatus>> m_statuses {m_o.processors}; // by serial, from FirstSerial
    QTimer m_asking;
    double m_checksum = 0;
    std::atomic<qint64> m_realReceived {0};
    Reader m_readers[2];
    QObject m_floorTaker; // the floor's batches arrive here, in the GUI thread
    pid_t m_guiTid = currentTid();
    pid_t m_netTid = 0;
    std::atomic<pid_t> m_readerTid {0};
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
    zunToolName(argv);
    const bool isolated = zunEnterPrivateNetns();
    // The status monitor's tiles are widgets: offscreen unless a display is named. Its
    // settings are the run's own, apart from the user's.
    bool monitor = false;
    for (int i = 1; i < argc; ++i)
        monitor = monitor || qstrcmp(argv[i], "--monitor") == 0;
    QTemporaryDir home;
    std::unique_ptr<QCoreApplication> app;
    if (monitor) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("HOME", home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "CPU cost of the status stream through the discovery threads, the status server and the "
        "records, beside a bare receive loop and a two-thread floor (a reader handing each batch "
        "to a second thread) of the same datagrams."));
    parser.addHelpOption();
    parser.addOption({"processors", "Processors streaming (1-200, default 20).", "n", "20"});
    parser.addOption({"interval", "Interval of each stream in ms (1-2500, default 20).", "ms", "20"});
    parser.addOption({"seconds", "Seconds of each path, in turns of one second (1-600, default 10).", "s", "10"});
    parser.addOption({"monitor", "The real path ends in the program's status monitor, one tile a processor "
                                 "(offscreen, or under the display named), instead of a stand-in reader (the "
                                 "monitor asks for 100 ms: --interval 100)."});
    parser.process(*app);
    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << "zunstatusbench: unexpected argument " << parser.positionalArguments().first() << Qt::endl;
        return 2;
    }
    Options o;
    o.processors = positive(parser, "processors", 200);
    o.intervalMs = positive(parser, "interval", 2500);
    o.seconds = positive(parser, "seconds", 600);
    o.monitor = monitor;
    if (o.seconds * 1000 < o.intervalMs) {
        QTextStream(stderr) << "zunstatusbench: --seconds must cover at least one interval" << Qt::endl;
        return 2;
    }
    registerZunMetaTypes();
    registerDiscoveryMetaTypes();

    QTextStream out(stdout);
    out << (isolated ? "private network namespace" : "loopback of this host (not root: no private namespace)") << ", "
        << o.processors << " processors every " << o.intervalMs << " ms ("
        << o.processors * 1000.0 / o.intervalMs << " datagrams/s) for " << o.seconds << " s";
    if (o.monitor)
        out << ", the real path into the status monitor's tiles (display platform: "
            << QGuiApplication::platformName() << ")";
    out << "\n";
    out.flush();

    const Sender sender(o);
    Bench bench(sender, o);
    bench.setUp();
    // One round of turns unmeasured: what each path does once (the tiles' first colours).
    {
        Figure warm;
        for (Bench::Path path : {Bench::Bare, Bench::Floor, Bench::Real})
            bench.turn(path, 1, &warm);
    }
    Figure figures[3];
    struct Range
    {
        double lowest = 1e9, highest = 0;
        void add(double x)
        {
            lowest = qMin(lowest, x);
            highest = qMax(highest, x);
        }
    } toBare, toFloor;
    for (int t = 0; t < o.seconds; ++t) {
        Figure round[3];
        for (Bench::Path path : {Bench::Bare, Bench::Floor, Bench::Real})
            bench.turn(path, 1, &round[path]);
        for (int path = 0; path < 3; ++path) {
            Figure& f = figures[path];
            const Figure& x = round[path];
            f.cpu += x.cpu;
            f.wall += x.wall;
            f.received += x.received;
            f.sent += x.sent;
            f.guiWakeUps += x.guiWakeUps;
            f.rxWakeUps += x.rxWakeUps;
            f.rxCpu += x.rxCpu;
        }
        const double real = round[Bench::Real].usPerDatagram();
        if (round[Bench::Bare].usPerDatagram() > 0)
            toBare.add(real / round[Bench::Bare].usPerDatagram());
        if (round[Bench::Floor].usPerDatagram() > 0)
            toFloor.add(real / round[Bench::Floor].usPerDatagram());
    }
    if (sender.requests() == 0 || figures[Bench::Real].sent == 0)
        fail(QStringLiteral("the program asked no processor for its status"));
    if (sender.otherInterval() != 0)
        fail(QStringLiteral("the program asks for a stream every %1 ms: run with --interval %1").arg(sender.otherInterval()));
    if (!bench.reachedRecords())
        fail(QStringLiteral("no status reached the records"));
    const auto line = [&](const char* name, const Figure& f, const char* rx) {
        out << name << QString::number(f.usPerDatagram(), 'f', 1) << " us a datagram, "
            << QString::number(f.percentOfCore(), 'f', 2) << " % of one core (" << f.received << " of " << f.sent
            << " datagrams); wake-ups a second: " << rx << " " << qRound64(double(f.rxWakeUps) / f.wall)
            << ", GUI thread " << qRound64(double(f.guiWakeUps) / f.wall) << "; " << rx << " alone "
            << QString::number(f.rxCpu / f.wall * 100, 'f', 2) << " % of one core\n";
    };
    const Figure& bare = figures[Bench::Bare];
    const Figure& floor = figures[Bench::Floor];
    const Figure& real = figures[Bench::Real];
    line("bare receive loop:  ", bare, "receiver");
    line("two-thread floor:   ", floor, "reader");
    line(o.monitor ? "real path + tiles:  " : "real status path:   ", real, "discovery threads");
    out << "status requests the processors took: " << sender.requests() << "\n";
    out << "ratio real / floor: " << QString::number(real.usPerDatagram() / floor.usPerDatagram(), 'f', 2)
        << " (rounds: " << QString::number(toFloor.lowest, 'f', 2) << " to " << QString::number(toFloor.highest, 'f', 2)
        << ")\n";
    out << "ratio real / bare:  " << QString::number(real.usPerDatagram() / bare.usPerDatagram(), 'f', 2)
        << " (rounds: " << QString::number(toBare.lowest, 'f', 2) << " to " << QString::number(toBare.highest, 'f', 2)
        << ")\n";
    if (o.monitor) {
        out << "real path + tiles:  " << QString::number(real.percentOfCore(), 'f', 2) << " % of one core at "
            << o.processors << " processors every " << o.intervalMs << " ms\n";
        out.flush();
        QVector<double> ms = bench.clipLatencies(ClipTrials);
        std::sort(ms.begin(), ms.end());
        if (ms.isEmpty())
            fail(QStringLiteral("no clip reached a tile's lamp"));
        const auto at = [&ms](double q) { return ms[qBound(0, int(std::ceil(q * ms.size())) - 1, ms.size() - 1)]; };
        out << "clip to tile lamp:  p50 " << QString::number(at(0.5), 'f', 1) << " ms, p99 "
            << QString::number(at(0.99), 'f', 1) << " ms, max " << QString::number(ms.last(), 'f', 1) << " ms ("
            << ms.size() << " one-datagram clips; batches every " << CZunNetwork::batchMsFor(o.intervalMs) << " ms)\n";
    }
    return real.received == real.sent ? 0 : 1;
}
