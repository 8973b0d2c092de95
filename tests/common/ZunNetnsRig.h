#pragma once
// Test rig: emulated processors as separate hosts on a private network.
//
// The test process first moves into a fresh network namespace of its own (before any
// thread exists: use ZUN_NETNS_TEST_MAIN), so nothing it sends can reach the machine's
// real interfaces. There the rig makes a bridge with the address 10.77.0.1/24 and, per
// emulator, a named network namespace joined to the bridge by a veth pair; the emulator's
// end carries the processor MAC 5A:75:6E:00 + serial and the address 10.77.0.(10 + n).
// Broadcasts and ARP therefore behave as on a real LAN. Everything is removed by the
// destructor; namespaces left behind by a killed test are removed by the next rig.
// Needs root (CAP_NET_ADMIN, CAP_SYS_ADMIN) and iproute2; without them privateNetnsReady()
// is false and the tests skip.
//
// Header-only so that the tests of any folder can use it.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QVector>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

class ZunNetnsRig
{
public:
    struct Sim
    {
        quint16 serial = 0;
        QString ns;
        QHostAddress address;
        QString hostLink; // the bridge's end of the emulator's veth pair
        std::unique_ptr<QProcess> process;
    };

    // Call first thing in main(), while the process has one thread.
    static void enterPrivateNetns()
    {
        QString& why = reason();
        if (::geteuid() != 0) {
            why = QStringLiteral("network-namespace tests need root");
            return;
        }
        if (::unshare(CLONE_NEWNET) != 0) {
            why = QStringLiteral("unshare(CLONE_NEWNET) failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        ifreq ifr {};
        strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
        if (fd < 0 || ::ioctl(fd, SIOCGIFFLAGS, &ifr) != 0
            || (ifr.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &ifr) != 0)) {
            why = QStringLiteral("cannot bring lo up in the private namespace");
            if (fd >= 0)
                ::close(fd);
            return;
        }
        ::close(fd);
        ready() = true;
    }
    static bool privateNetnsReady() { return ready(); }
    static QString notReadyReason() { return reason(); }

    static QHostAddress hostAddress() { return QHostAddress(QStringLiteral("10.77.0.1")); }

    ZunNetnsRig() = default;
    ~ZunNetnsRig() { tearDown(); }
    ZunNetnsRig(const ZunNetnsRig&) = delete;
    ZunNetnsRig& operator=(const ZunNetnsRig&) = delete;

    // Creates the bridge. False with *why when the rig cannot be built.
    bool setUp(QString* why)
    {
        if (!privateNetnsReady()) {
            *why = notReadyReason();
            return false;
        }
        removeStaleNamespaces();
        if (!ip({"link", "add", bridge(), "type", "bridge"}, why)
            || !ip({"link", "set", bridge(), "type", "bridge", "forward_delay", "0"}, why)
            || !ip({"addr", "add", "10.77.0.1/24", "dev", bridge()}, why)
            || !ip({"link", "set", bridge(), "up"}, why))
            return false;
        m_up = true;
        return true;
    }

    // Starts one emulator as a host of its own; extra options are passed to zunsim. The
    // host number n gives the address 10.77.0.(10 + n).
    Sim* startSim(quint16 serial, const QStringList& options, QString* why)
    {
        const int n = m_sims.size() + 1;
        auto sim = std::make_unique<Sim>();
        sim->serial = serial;
        sim->ns = QStringLiteral("%1%2_%3").arg(prefix()).arg(::getpid()).arg(n);
        sim->address = QHostAddress(QStringLiteral("10.77.0.%1").arg(10 + n));
        const QString host = QStringLiteral("zv%1").arg(n);
        sim->hostLink = host;
        const QString mac = QStringLiteral("5a:75:6e:00:%1:%2")
                                .arg(serial >> 8, 2, 16, QLatin1Char('0'))
                                .arg(serial & 0xFF, 2, 16, QLatin1Char('0'));
        if (!ip({"netns", "add", sim->ns}, why))
            return nullptr;
        m_namespaces << sim->ns;
        if (!ip({"link", "add", host, "type", "veth", "peer", "name", "eth0", "address", mac, "netns", sim->ns}, why)
            || !ip({"link", "set", host, "master", bridge(), "up"}, why)
            || !ip({"-n", sim->ns, "link", "set", "lo", "up"}, why)
            || !ip({"-n", sim->ns, "addr", "add", sim->address.toString() + "/24", "dev", "eth0"}, why)
            || !ip({"-n", sim->ns, "link", "set", "eth0", "up"}, why))
            return nullptr;

        if (!launch(sim.get(), options, why))
            return nullptr;
        m_sims.push_back(std::move(sim));
        return m_sims.back().get();
    }

    // Kills the emulator, as a processor switched off: its host (address, cable) stays.
    bool killSim(quint16 serial)
    {
        Sim* s = sim(serial);
        if (!s || !s->process)
            return false;
        s->process->kill();
        return s->process->waitForFinished(5000);
    }

    // Starts an emulator again on a killed one's host: the processor switched on again, or
    // another one put in its place (same serial and address, other options).
    bool relaunchSim(quint16 serial, const QStringList& options, QString* why)
    {
        Sim* s = sim(serial);
        if (!s) {
            *why = QStringLiteral("no emulator %1").arg(serial);
            return false;
        }
        return launch(s, options, why);
    }

    bool launch(Sim* sim, const QStringList& options, QString* why)
    {
        const quint16 serial = sim->serial;
        const QString zunsim = QString::fromLocal8Bit(qgetenv("ZUNSIM"));
        if (zunsim.isEmpty() || !QFileInfo(zunsim).isExecutable()) {
            *why = QStringLiteral("ZUNSIM does not name the emulator");
            return false;
        }
        sim->process = std::make_unique<QProcess>();
        sim->process->setProcessChannelMode(QProcess::SeparateChannels);
        sim->process->setReadChannel(QProcess::StandardOutput);
        // "ip netns exec" becomes the emulator: its parent is this test, and it dies with
        // the test, even when the test is killed or aborts before tearDown.
        const QStringList args {"netns", "exec", sim->ns, zunsim, "--serial", QString::number(serial),
                                "--parent", QString::number(QCoreApplication::applicationPid())};
        sim->process->start(QStringLiteral("ip"), args + options);
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (!out.contains("zunsim ready") && t.elapsed() < 10000) {
            if (sim->process->state() == QProcess::NotRunning)
                break;
            sim->process->waitForReadyRead(200);
            out += sim->process->readAllStandardOutput();
        }
        if (!out.contains("zunsim ready")) {
            *why = QStringLiteral("emulator %1 did not start: %2").arg(serial).arg(QString::fromLocal8Bit(sim->process->readAllStandardError()));
            return false;
        }
        return true;
    }

    Sim* sim(quint16 serial) const
    {
        for (const auto& s : m_sims)
            if (s->serial == serial)
                return s.get();
        return nullptr;
    }

    // Pulls or plugs the emulator's cable: its link to the bridge goes down (packets are
    // lost, nobody sends FIN or RST) or up again.
    bool setCable(quint16 serial, bool plugged, QString* why)
    {
        Sim* s = sim(serial);
        if (!s) {
            *why = QStringLiteral("no emulator %1").arg(serial);
            return false;
        }
        return ip({"link", "set", s->hostLink, plugged ? "up" : "down"}, why);
    }

    // Gives the emulator another address on the private network, as DHCP or the
    // processor's own address setting would: the old one is gone at once.
    bool moveSim(quint16 serial, const QHostAddress& to, QString* why)
    {
        Sim* s = sim(serial);
        if (!s) {
            *why = QStringLiteral("no emulator %1").arg(serial);
            return false;
        }
        if (!ip({"-n", s->ns, "addr", "flush", "dev", "eth0"}, why)
            || !ip({"-n", s->ns, "addr", "add", to.toString() + "/24", "dev", "eth0"}, why))
            return false;
        s->address = to;
        return true;
    }

    // Writes one control line to the emulator's standard input.
    bool control(quint16 serial, const QString& line)
    {
        Sim* s = sim(serial);
        if (!s)
            return false;
        s->process->write((line + QLatin1Char('\n')).toUtf8());
        return s->process->waitForBytesWritten(2000);
    }

    // Writes one control line and returns the first line of the emulator's output that
    // starts with prefix ("state", "word"), or an empty string after 10 s.
    QString query(quint16 serial, const QString& line, const QString& prefix)
    {
        Sim* s = sim(serial);
        if (!s || !control(serial, line))
            return QString();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && s->process->state() == QProcess::Running) {
            while (s->process->canReadLine()) {
                const QString found = QString::fromUtf8(s->process->readLine()).trimmed();
                if (found.startsWith(prefix))
                    return found;
            }
            s->process->waitForReadyRead(100);
        }
        return QString();
    }

    void tearDown()
    {
        for (auto& s : m_sims) {
            if (s->process && s->process->state() != QProcess::NotRunning) {
                s->process->write("quit\n");
                if (!s->process->waitForFinished(2000)) {
                    s->process->kill();
                    s->process->waitForFinished(2000);
                }
            }
        }
        m_sims.clear();
        QString ignored;
        for (const QString& ns : qAsConst(m_namespaces))
            ip({"netns", "del", ns}, &ignored);
        m_namespaces.clear();
        if (m_up)
            ip({"link", "del", bridge()}, &ignored);
        m_up = false;
    }

private:
    static QString& reason()
    {
        static QString r = QStringLiteral("the private network namespace was not entered");
        return r;
    }
    static bool& ready()
    {
        static bool r = false;
        return r;
    }
    static QString prefix() { return QStringLiteral("zuntest"); }
    static QString bridge() { return QStringLiteral("zbr0"); }

    static bool ip(const QStringList& args, QString* why)
    {
        QProcess p;
        p.start(QStringLiteral("ip"), args);
        if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            *why = QStringLiteral("ip %1: %2").arg(args.join(QLatin1Char(' ')),
                                                  QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
            return false;
        }
        return true;
    }

    // Namespaces named after a test process that no longer runs.
    static void removeStaleNamespaces()
    {
        const QStringList names = QDir(QStringLiteral("/run/netns")).entryList({prefix() + QStringLiteral("*")}, QDir::Files | QDir::System);
        for (const QString& n : names) {
            const QString pid = n.mid(prefix().size()).section(QLatin1Char('_'), 0, 0);
            if (!pid.isEmpty() && !QFileInfo::exists(QStringLiteral("/proc/") + pid)) {
                QString ignored;
                ip({"netns", "del", n}, &ignored);
            }
        }
    }

    bool m_up = false;
    std::vector<std::unique_ptr<Sim>> m_sims;
    QStringList m_namespaces;
};

// main() for tests that use the rig: enters the private namespace before Qt starts.
#define ZUN_NETNS_TEST_MAIN(TestObject)                 \
    int main(int argc, char** argv)                     \
    {                                                   \
        ZunNetnsRig::enterPrivateNetns();               \
        QCoreApplication app(argc, argv);               \
        TestObject tc;                                  \
        QTEST_SET_MAIN_SOURCE_PATH                      \
        return QTest::qExec(&tc, argc, argv);           \
    }
