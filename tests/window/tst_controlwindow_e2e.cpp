// The control window on an emulated processor through the real link on loopback: it
// connects, builds its tabs after the first full image, greys them when the link drops and
// restores them when it comes back; closed while the connection is still being made, it
// leaves neither a connection nor a thread behind.
#include "CCmdMap.h"
#include "QEditableTabWidget.h"
#include "WindowTestRig.h"
#include "ZunControlDlg.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
enum : quint16 { Emulated = 0x0123, Stalled = 0x0124 };

// TCP sockets of this process's network namespace whose peer port is port, by state
// ("01" established, "02" SYN sent).
int socketsTo(quint16 port, const char* state)
{
    QFile tcp(QStringLiteral("/proc/net/tcp"));
    if (!tcp.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray peer = QByteArray(":") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    int n = 0;
    for (const QByteArray& line : tcp.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 3 && f[2].endsWith(peer) && f[3] == state)
            ++n;
    }
    return n;
}

int threadCount() { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); }

// A loopback listener that never accepts: once one connection fills its queue, the
// kernel drops every further SYN, so a connection to it stays in the making.
class StalledListener
{
public:
    bool start()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return false;
        m_port = ntohs(a.sin_port);
        m_filler.connectToHost(QHostAddress::LocalHost, m_port);
        return m_filler.waitForConnected(5000);
    }
    ~StalledListener()
    {
        m_filler.abort();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QTcpSocket m_filler;
};
} // namespace

class TstControlWindowE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowTestRig> m_rig;

    static bool allTabsEnabled(const QTabWidget* tabs, bool on)
    {
        for (int i = 1; i < tabs->count(); ++i)
            if (tabs->isTabEnabled(i) != on)
                return false;
        return tabs->count() > 1 && tabs->isTabEnabled(0);
    }

private slots:
    void initTestCase()
    {
        m_rig = std::make_unique<WindowTestRig>();
        QVERIFY2(m_rig->startSim(Emulated, WindowTestRig::DoubleBoard, {"--name", "Stage"}), qPrintable(m_rig->error()));
        m_rig->addDevice(Emulated);
    }

    void cleanupTestCase() { m_rig.reset(); }

    void connectsBuildsTabsGreysOnADroppedLinkAndRestores()
    {
        const QSharedPointer<CZun> zun = m_rig->device(Emulated);
        auto* w = new ZunControlDlg(Emulated, m_rig->deviceServer(), m_rig->statusServer());
        QPointer<ZunControlDlg> guard(w);
        w->show();
        QSignalSpy connected(zun.data(), &CZun::signal_Connected);
        QSignalSpy image(zun.data(), &CZun::signal_ZunStatusChanged);
        QCOMPARE(w->tabWidget()->count(), 1);
        w->connectToZun();
        QVERIFY(WindowTestRig::waitFor(connected));
        QVERIFY(WindowTestRig::waitFor(image));
        // Tabs come with the image: two inputs over eight outputs.
        QTRY_COMPARE(w->tabWidget()->count(), 1 + 2 + 2 + 8 + 1);
        QTRY_VERIFY(allTabsEnabled(w->tabWidget(), true));
        QVERIFY2(w->windowTitle().startsWith("Rig 291 connected"), qPrintable(w->windowTitle()));
        QCOMPARE(w->getDisplayName(), QString("Zun 291 : Rig 291"));

        // The processor drops the link at the next command.
        QSignalSpy disconnected(zun.data(), &CZun::signal_Disconnected);
        QVERIFY(m_rig->sim()->control("droplink"));
        zun->requestCmdStatus(zun->GetCmdMap()->getCmdNr("Cmd_KeyLock"));
        QVERIFY(WindowTestRig::waitFor(disconnected));
        QTRY_VERIFY(allTabsEnabled(w->tabWidget(), false));
        QVERIFY2(w->windowTitle().startsWith("Zun 291 disconnected"), qPrintable(w->windowTitle()));
        QCOMPARE(w->getDisplayName(), QString("Not connected"));

        // Connected again: the tabs come back, rebuilt from the new image.
        connected.clear();
        image.clear();
        w->connectToZun();
        QVERIFY(WindowTestRig::waitFor(connected));
        QVERIFY(WindowTestRig::waitFor(image));
        QTRY_VERIFY(allTabsEnabled(w->tabWidget(), true));
        QTRY_VERIFY2(w->windowTitle().startsWith("Rig 291 connected"), qPrintable(w->windowTitle()));
        QCOMPARE(w->tabWidget()->count(), 1 + 2 + 2 + 8 + 1);

        // Closing ends the connection.
        w->close();
        QTRY_VERIFY(!guard);
        QTRY_VERIFY(!zun->IsConnected());
        QTRY_COMPARE(socketsTo(m_rig->sim()->tcpPort(), "01"), 0);
    }

    void closingMidConnectionLeavesNothingBehind()
    {
        StalledListener listener;
        QVERIFY(listener.start());
        const QSharedPointer<CZun> zun = m_rig->addDevice(Stalled);
        zun->SetPort(listener.port());
        const int threads = threadCount();

        auto* w = new ZunControlDlg(Stalled, m_rig->deviceServer(), m_rig->statusServer());
        QPointer<ZunControlDlg> guard(w);
        w->show();
        w->connectToZun();
        QTRY_COMPARE(socketsTo(listener.port(), "02"), 1);
        QVERIFY(!zun->IsConnected());
        w->close();
        QTRY_VERIFY(!guard);
        // The attempt ends with the window: nothing is left in the making or made.
        QCOMPARE(socketsTo(listener.port(), "02"), 0);
        QCOMPARE(socketsTo(listener.port(), "01"), 1); // the listener's own filler
        QVERIFY(!zun->IsConnected());
        QTRY_COMPARE(threadCount(), threads);
    }
};

QTEST_MAIN(TstControlWindowE2E)
#include "tst_controlwindow_e2e.moc"
