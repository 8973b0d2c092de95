// zunbench: the link (ZunBaseComm) beside bare sockets doing the same exchange with the
// same emulated processor on loopback:
// - command round trip: single commands through the link, a blocking ping-pong of the
//   same 4-byte frames and 6-byte replies on a plain socket, and the design's floor between
//   them: a plain socket whose receiving thread hands each reply into this thread's Qt
//   event loop (one hop); the three take turns round by round;
// - block write: a block through the link, and a bare loop that sends the start frame and
//   each chunk with its sum straight from the block and waits for each acknowledgement, as
//   the protocol asks; the two alternate block by block, and each link block is compared
//   with the bare block just before it (pairs see the same load of the machine; the median
//   of many pairs counts). A chunk's exchange is a wake-up each way: one that crosses
//   cores costs several times the chunk's own work (tens of microseconds under a
//   hypervisor), and where the scheduler happens to put each thread decided which of the
//   two paid it. The pairs therefore run with the emulator and every thread of the bench
//   on one core, so that the bare loop is the least the exchange takes and the link is
//   measured beside it under the same placement.
// Prints the figures and the ratios. Bounded: fixed rounds and an overall time limit; the
// emulator is ended whatever happens.
#include "CCmdMap.h"
#include "ZunBaseComm.h"
#include "ZunProtocolMetaTypes.h"
#include "ZunFloorClients.h"
#include "ZunToolName.h"
#include "ZunWire.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{
constexpr int WarmUp = 100;
constexpr int TimeLimitMs = 120000;

QTextStream out(stdout);
QProcess* g_sim = nullptr;
volatile sig_atomic_t g_simPid = 0;
QElapsedTimer g_total;

void endEmulator()
{
    if (!g_sim || g_sim->state() == QProcess::NotRunning)
        return;
    g_sim->write("quit\n");
    if (!g_sim->waitForFinished(3000)) {
        g_sim->kill();
        g_sim->waitForFinished(3000);
    }
}

[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zunbench: " << text << Qt::endl;
    endEmulator();
    ::exit(1);
}

void checkTime()
{
    if (g_total.elapsed() > TimeLimitMs)
        fail(QStringLiteral("time limit reached"));
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

using ZunFloor::BareSocket;
using ZunFloor::nowNs;

// The block write as the protocol asks for it and nothing more: each chunk goes from the
// block itself with its sum behind it, in one segment. Returns the seconds it took.
double bareBlockWrite(BareSocket& s, const QByteArray& block)
{
    const quint32 total = quint32(block.size());
    const qint64 t = nowNs();
    char start[ZunWire::BlockStartSize], ack[ZunWire::HeaderSize + ZunWire::BlockAckSize], sum[2];
    qToLittleEndian<quint16>(ZunWire::BlockWrite, start);
    qToLittleEndian<quint16>(quint16(total), start + 2);
    qToLittleEndian<quint32>(total, start + 4);
    s.send(start, sizeof start);
    s.receive(ack, sizeof ack);
    for (quint32 at = 0; at < total; at += ZunWire::ChunkSize) {
        const int n = int(qMin<quint32>(ZunWire::ChunkSize, total - at));
        const char* chunk = block.constData() + at;
        qToLittleEndian<quint16>(ZunWire::byteSum(chunk, n), sum);
        s.send(chunk, n, sum, sizeof sum);
        s.receive(ack, sizeof ack);
        if (qFromLittleEndian<quint32>(ack + 6) != at + quint32(n))
            fail(QStringLiteral("bare block write: wrong acknowledgement"));
    }
    return double(nowNs() - t) / 1e9;
}

// Every thread of a process (0: this one) allowed onto the CPUs of a set; false when one
// could not be moved.
bool placeProcess(pid_t pid, const cpu_set_t& cpus)
{
    const QString dir = pid ? QStringLiteral("/proc/%1/task").arg(pid) : QStringLiteral("/proc/self/task");
    const QStringList tasks = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    bool ok = !tasks.isEmpty();
    for (const QString& task : tasks)
        ok = ::sched_setaffinity(pid_t(task.toInt()), sizeof cpus, &cpus) == 0 && ok;
    return ok;
}

// Collects what the link hands back; connected before anything is sent.
class Replies : public QObject
{
public:
    explicit Replies(ZunBaseComm* link)
    {
        connect(link, &ZunBaseComm::signal_CmdProcessed, this, &Replies::add);
    }
    void add(const CZunCmd& cmd)
    {
        m_cmds.push_back(cmd);
        if (m_loop)
            m_loop->quit();
    }
    CZunCmd next()
    {
        while (m_cmds.empty()) {
            QEventLoop loop;
            m_loop = &loop;
            QTimer::singleShot(int(qMax<qint64>(1, TimeLimitMs - g_total.elapsed())), &loop, &QEventLoop::quit);
            loop.exec();
            m_loop = nullptr;
            checkTime();
        }
        const CZunCmd c = m_cmds.front();
        m_cmds.pop_front();
        return c;
    }

private:
    std::deque<CZunCmd> m_cmds;
    QEventLoop* m_loop = nullptr;
};

int wholeNumber(const QCommandLineParser& p, const QString& name, int min, int max)
{
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < min || v > max) {
        QTextStream(stderr) << "zunbench: --" << name << " takes a whole number from " << min << " to " << max
                            << Qt::endl;
        ::exit(2);
    }
    return v;
}
} // namespace

int main(int argc, char** argv)
{
    zunToolName(argv);
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Command round trip and block write through the link, beside bare sockets doing the same "
        "against the same emulated processor (zunsim, or $ZUNSIM) on loopback."));
    parser.addHelpOption();
    parser.addOption({"rounds", "Commands timed (10-100000, default 2000).", "n", "2000"});
    parser.addOption({"block-kib", "Size of the block written, in KiB (1-4096, default 1024).", "kib", "1024"});
    parser.addOption({"blocks", "Pairs of block writes (bare, then link) timed; the median pair counts (50-1000, default 50).",
                      "n", "50"});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << "zunbench: unexpected argument " << parser.positionalArguments().first() << Qt::endl;
        return 2;
    }
    const int rounds = wholeNumber(parser, "rounds", 10, 100000);
    const int blockKib = wholeNumber(parser, "block-kib", 1, 4096);
    const int blocks = wholeNumber(parser, "blocks", 50, 1000);

    registerProtocolMetaTypes();
    g_total.start();
    ZunFloor::onFail() = endEmulator;
    // A bench stopped with ^C or by a time-out still ends its emulator.
    for (int sig : {SIGINT, SIGTERM})
        std::signal(sig, [](int) {
            if (g_simPid > 0)
                ::kill(pid_t(g_simPid), SIGKILL);
            ::_exit(1);
        });

    const QString sim = qEnvironmentVariableIsSet("ZUNSIM") ? qEnvironmentVariable("ZUNSIM") : QStringLiteral(ZUNSIM_PATH);
    const quint16 tcpPort = freePort(true);
    QProcess proc;
    g_sim = &proc;
    proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc.start(sim, {"--bind", "127.0.0.1", "--tcp-port", QString::number(tcpPort), "--udp-port",
                     QString::number(freePort(false)), "--firmware", "1080"});
    g_simPid = proc.processId();
    QByteArray line;
    while (!line.contains("zunsim ready")) {
        if (!proc.waitForReadyRead(10000))
            fail(QStringLiteral("the emulator %1 did not start").arg(sim));
        line += proc.readAllStandardOutput();
    }

    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(1080);
    const quint16 cmdNr = map->getCmdNr("Cmd_MemID0");
    QByteArray block(blockKib * 1024, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 7 + (i >> 12));

    ZunBaseComm link(QHostAddress(QHostAddress::LocalHost), 1, 1080, map);
    link.setPort(tcpPort);
    Replies replies(&link);
    bool created = false;
    QObject::connect(&link, &ZunBaseComm::signal_SocketCreated, &app, [&created]() { created = true; });
    link.start();
    while (!created) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (g_total.elapsed() > 10000)
            fail(QStringLiteral("link thread did not start"));
    }
    QMetaObject::invokeMethod(&link, "connectZun", Qt::BlockingQueuedConnection);
    while (!link.isConnected()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (g_total.elapsed() > 10000)
            fail(QStringLiteral("link did not connect"));
    }

    BareSocket bareSocket(tcpPort);
    ZunFloor::OneHopClient oneHop(tcpPort);
    const auto linkRoundTrip = [&](int i) {
        const qint64 t = nowNs();
        link.sendCmd(cmdNr, quint16(i & 0xFF));
        const CZunCmd c = replies.next();
        const qint64 ns = nowNs() - t;
        if (!c.isDone() || c.isError())
            fail(QStringLiteral("command not answered"));
        return ns;
    };
    for (int i = 0; i < WarmUp; ++i) {
        bareSocket.roundTrip(cmdNr, i);
        oneHop.roundTrip(cmdNr, i);
        linkRoundTrip(i);
    }
    // Round by round, so that the three see the same load of the machine.
    std::vector<qint64> bare, floor, viaLink;
    for (int i = 0; i < rounds; ++i) {
        bare.push_back(bareSocket.roundTrip(cmdNr, i));
        floor.push_back(oneHop.roundTrip(cmdNr, i));
        viaLink.push_back(linkRoundTrip(i));
    }

    // The block pairs on one core, the one this thread is on (see the top of the file).
    cpu_set_t allowed, one;
    CPU_ZERO(&one);
    const int core = ::sched_getcpu();
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0 || core < 0)
        fail(QStringLiteral("the CPUs of this process are not known: %1").arg(strerror(errno)));
    CPU_SET(core, &one);
    if (!placeProcess(0, one) || !placeProcess(pid_t(proc.processId()), one))
        fail(QStringLiteral("the bench and the emulator could not be put on one core: %1").arg(strerror(errno)));
    std::vector<double> bareBlock, linkBlock, pairShare;
    for (int i = 0; i < blocks; ++i) {
        bareBlock.push_back(bareBlockWrite(bareSocket, block));
        const qint64 t = nowNs();
        link.sendMetaCmd(CZunMetaCmd(ZunWire::BlockWrite, quint16(block.size()), block));
        const CZunCmd b = replies.next();
        linkBlock.push_back(double(nowNs() - t) / 1e9);
        if (!b.isDone() || b.bytesSent() != quint32(block.size()))
            fail(QStringLiteral("block write failed"));
        pairShare.push_back(100.0 * bareBlock.back() / linkBlock.back());
    }
    placeProcess(0, allowed);
    placeProcess(pid_t(proc.processId()), allowed);
    std::sort(bareBlock.begin(), bareBlock.end());
    std::sort(linkBlock.begin(), linkBlock.end());
    std::sort(pairShare.begin(), pairShare.end());
    const double bareS = bareBlock[bareBlock.size() / 2], linkS = linkBlock[linkBlock.size() / 2];
    const auto shareAt = [&pairShare](double p) { return pairShare[size_t(p * double(pairShare.size() - 1) + 0.5)]; };
    const double mib = double(block.size()) / (1024.0 * 1024.0);

    const double linkMedian = percentile(viaLink, 0.5), bareMedian = percentile(bare, 0.5);
    out << "rounds: " << rounds << " (after " << WarmUp << " warm-up rounds)\n";
    out << QString("link command RTT:   median %1 us, p99 %2 us\n").arg(linkMedian, 0, 'f', 1).arg(percentile(viaLink, 0.99), 0, 'f', 1);
    out << QString("bare socket RTT:    median %1 us, p99 %2 us\n").arg(bareMedian, 0, 'f', 1).arg(percentile(bare, 0.99), 0, 'f', 1);
    const double floorMedian = percentile(floor, 0.5);
    out << QString("one-hop floor RTT:  median %1 us, p99 %2 us (bare client, reply handed into a Qt event loop)\n")
               .arg(floorMedian, 0, 'f', 1).arg(percentile(floor, 0.99), 0, 'f', 1);
    out << QString("ratio link / bare:  median %1, p99 %2\n")
               .arg(linkMedian / bareMedian, 0, 'f', 2)
               .arg(percentile(viaLink, 0.99) / percentile(bare, 0.99), 0, 'f', 2);
    out << QString("ratio link / floor: median %1, p99 %2 (goal: at most 1.15)\n")
               .arg(linkMedian / floorMedian, 0, 'f', 2)
               .arg(percentile(viaLink, 0.99) / percentile(floor, 0.99), 0, 'f', 2);
    out << QString("%1 KiB block write, %2 pairs (bare, then link) with the emulator on core %3, medians:\n")
               .arg(blockKib).arg(blocks).arg(core);
    out << QString("  link:             %1 ms, %2 MiB/s\n").arg(linkS * 1000, 0, 'f', 1).arg(mib / linkS, 0, 'f', 1);
    out << QString("  bare chunk-and-ack: %1 ms, %2 MiB/s\n").arg(bareS * 1000, 0, 'f', 1).arg(mib / bareS, 0, 'f', 1);
    out << QString("  link throughput:  %1 % of bare (median of the pairs; quartiles %2 to %3 %; goal: at least 50 %)\n")
               .arg(shareAt(0.5), 0, 'f', 0)
               .arg(shareAt(0.25), 0, 'f', 0)
               .arg(shareAt(0.75), 0, 'f', 0);
    out.flush();

    QMetaObject::invokeMethod(&link, "disconnectZun", Qt::BlockingQueuedConnection);
    endEmulator();
    return 0;
}
