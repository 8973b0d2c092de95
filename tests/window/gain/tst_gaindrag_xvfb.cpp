// A drag from a gain page's output strip on a real display (its own Xvfb): the offscreen
// platform ends every drag at once, a display runs it in its own event loop, where an
// image reload of the page arrives. The drag ends cleanly and the page rebuilds after it.
#include "AudioIOStatus.h"
#include "CRoutingLibrary.h"
#include "DeviceTestRig.h"
#include "GainWidget.h"
#include "OutputGainLevelWidget.h"
#include "TcpSimProcess.h"
#include "ZunSignalSpy.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace DeviceTestRig;

namespace
{
pid_t g_xvfb = 0;

void stopDisplay()
{
    if (g_xvfb > 0) {
        ::kill(g_xvfb, SIGTERM);
        ::waitpid(g_xvfb, nullptr, 0);
        g_xvfb = 0;
    }
}

// Starts Xvfb on a free display number; false when there is none to start.
bool startDisplay()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    g_xvfb = ::fork();
    if (g_xvfb == 0) {
        ::close(fds[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM); // the display goes with the test, however it ends
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (g_xvfb < 0)
        return false;
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 30000) > 0) {
        char c;
        if (::read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        stopDisplay();
        return false;
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    return true;
}
} // namespace

class TestGainDrag : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;

private slots:
    void initTestCase() { m_config.reset(new Config); }

    void reloadDuringAStripDragEndsTheDragCleanly()
    {
        TcpSimProcess sim;
        QVERIFY2(sim.start({"--serial", "42", "--firmware", "1080", "--hardware", "0x0F80"}), qPrintable(sim.error()));
        auto m = map(1080);
        QSharedPointer<CZun> zun(new CZun(record(1080, 42, 0, 0x0F80), m, QSharedPointer<CRoutingLibrary>::create(m)));
        zun->SetPort(sim.tcpPort());
        GainWidget page(1, zun, QSharedPointer<AudioIOStatus>::create(m));
        connect(zun.data(), &CZun::signal_ZunStatusChanged, &page, &GainWidget::UpdateGui, Qt::QueuedConnection);
        ZunSignalSpy status(zun.data(), &CZun::signal_ZunStatusChanged);
        zun->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        QVERIFY(settle(zun.data()));
        QVERIFY(waitUntil([&]() { return page.outputStrips().size() == 8; }));
        page.resize(1100, 600);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));

        QPointer<OutputGainLevelWidget> strip = page.outputStrip(ZunC::Output0);
        bool reloaded = false, stripDuringDrag = false, ended = false;
        // Inside the drag's event loop: the image reload, then the operator lets go.
        QTimer::singleShot(200, &page, [&]() {
            page.setMode(2); // a reload that makes new strips (the same channels would be refreshed)
            page.UpdateGui();
            reloaded = true;
            stripDuringDrag = !strip.isNull();
            QTimer::singleShot(200, &page, [&]() {
                QWindow* window = page.windowHandle();
                const QPointF at(10, 10);
                QMouseEvent release(QEvent::MouseButtonRelease, at, window->mapToGlobal(at.toPoint()), Qt::LeftButton,
                                    Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(window, &release);
            });
        });
        // A drag that never ends holds the event loop: the alarm ends the test from outside it.
        std::signal(SIGALRM, [](int) {
            static const char text[] = "FAIL: the drag did not end\n";
            (void)!::write(2, text, sizeof text - 1);
            stopDisplay();
            ::_exit(1);
        });
        ::alarm(60);
        const QPoint press = strip->rect().center();
        QMouseEvent down(QEvent::MouseButtonPress, press, strip->mapToGlobal(press), Qt::LeftButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(strip, &down);
        const QPoint far = press + QPoint(0, 3 * QApplication::startDragDistance());
        QMouseEvent move(QEvent::MouseMove, far, strip->mapToGlobal(far), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(strip, &move); // runs the drag until the release
        ended = true;
        ::alarm(0);

        QVERIFY(reloaded);
        QVERIFY(ended);
        QVERIFY(stripDuringDrag); // the source of the running drag was kept
        // the reload asked for during the drag follows it: new strips, all eight
        QVERIFY(waitUntil([&]() { return strip.isNull(); }));
        QCOMPARE(page.outputStrips().size(), 8);
        QCOMPARE(page.findChildren<OutputGainLevelWidget*>().size(), 8);
    }
};


int main(int argc, char** argv)
{
    if (!startDisplay()) {
        std::printf("SKIP: no Xvfb to run a real drag on\n");
        return 0;
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        TestGainDrag test;
        result = QTest::qExec(&test, argc, argv);
    }
    stopDisplay();
    return result;
}

#include "tst_gaindrag_xvfb.moc"
