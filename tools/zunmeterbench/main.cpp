// zunmeterbench: what one open gain page costs in the program. The program's real control
// window of an emulated two-board processor (8 outputs) shows its gain page, in a sub-window
// of a main window's area as the program places it; its status streams take the program's
// path: requested and received by a discovery object in its own thread, handed on in its
// batches to the status server (in a network namespace of its own when run as root, where
// the processors' UDP port is free). The CPU time of the whole process (getrusage) is taken
// over a fixed wall time with the status streams running (a datagram every 20 ms, as the
// page asks for them) and, as the reference, the same page with the streams stopped. The
// two alternate; printed are each one's share of a core and the difference (goal: at most
// 1 % of a core), and the window's frames while running with the GUI thread's time in
// each. The display platform is printed too: run it offscreen (the default) or under a
// display (Xvfb). A message box the window shows ends the bench with its text: it
// would hold the measurement's event loop until someone answered it.
//
// Usage: zunmeterbench [seconds per measurement, default 10] [pairs, default 3]
#include "AudioIOStatus.h"
#include "GainWidget.h"
#include "MainWindow.h"
#include "ZunBenchArgs.h"
#include "ZunLiveWindow.h"
#include "ZunPrivateNetns.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QTextStream>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <vector>

namespace
{
constexpr quint32 TwoBoards = 0x0F80;

[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zunmeterbench: " << text << Qt::endl;
    ::exit(1);
}

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for ms of wall time; the process's CPU time meanwhile in % of a core.
double cpuPercentOver(int ms)
{
    QElapsedTimer wall;
    const double before = cpuSeconds();
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return 100.0 * (cpuSeconds() - before) / (double(wall.nsecsElapsed()) / 1e9);
}

double threadCpuMicroseconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// The main window, counting its frames (the toolkit's update requests: the paints of all of
// its widgets and their transfer to the display) and the GUI thread's CPU time in them.
class FrameTimedWindow : public QMainWindow
{
public:
    int frames = 0;
    double microseconds = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::UpdateRequest)
            return QMainWindow::event(e);
        const double start = threadCpuMicroseconds();
        const bool done = QMainWindow::event(e);
        microseconds += threadCpuMicroseconds() - start;
        ++frames;
        return done;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    const bool isolated = zunEnterPrivateNetns();
    const QVector<int> args = zunBenchArgs(
        argc, argv,
        "Usage: zunmeterbench [seconds per measurement 1-600, default 10] [pairs 1-100, default 3]\n"
        "What one open gain page of an emulated eight-output processor costs in the program (a sub-window\n"
        "of a main window's area, the streams through a discovery thread): the process's CPU time with\n"
        "the status streams running, beside the same page with them stopped. Runs offscreen, or under a\n"
        "display when one is named (xvfb-run -a zunmeterbench), and says which. As root it runs in a\n"
        "network namespace of its own; otherwise the UDP port 1234 of this host must be free.\n",
        {{"seconds", 10, 1, 600}, {"pairs", 3, 1, 100}});
    const int seconds = args[0], pairs = args[1];
    ZunBenchProgram program(argc, argv);

    // The program's main window: its area holds the control windows.
    FrameTimedWindow mainWindow;
    auto* area = new QMdiArea;
    mainWindow.setCentralWidget(area);
    mainWindow.resize(1366, 768);
    mainWindow.show();

    ZunLiveWindow live;
    if (!live.startProgramPath(TwoBoards))
        fail(live.error());
    // The test rig's closer looks for boxes 50 times a second, a cost of its own; a look
    // every 250 ms, in both halves of each pair alike, tells of a box without hanging.
    live.rig().setBoxCloser(false);
    QTimer boxWatch;
    QObject::connect(&boxWatch, &QTimer::timeout, []() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            fail(QStringLiteral("the window showed a box: %1").arg(box->text()));
    });
    boxWatch.start(250);
    ZunControlDlg* window = live.create([area](ZunControlDlg* w) { MainWindow::addControlWindow(area, w)->show(); });
    if (!live.connect())
        fail(QStringLiteral("the emulated processor sent no parameter image"));
    GainWidget* page = window->firstGainPage();
    if (window->tabWidget()->currentWidget() != page || page->outputStrips().size() != 8)
        fail(QStringLiteral("the gain page with 8 output strips is not shown"));
    const QSharedPointer<AudioIOStatus> status = live.rig().statusServer()->getStatus(ZunLiveWindow::Serial);
    // The record tells its readers once a batch, not once a datagram: these are refreshes.
    int refreshes = 0;
    QObject::connect(status.data(), &AudioIOStatus::refreshed, [&refreshes]() { ++refreshes; });

    std::vector<double> running, stopped;
    std::vector<int> rates;
    std::vector<double> frameRates, frameCosts, guiShares;
    for (int pair = 0; pair < pairs; ++pair) {
        // Stopped: no requests, and the last stream has run out.
        live.setStreams(false);
        cpuPercentOver(3000);
        stopped.push_back(cpuPercentOver(seconds * 1000));
        // Running: the page's request at once (as when it is shown) and every 2300 ms.
        live.setStreams(true);
        const int first = refreshes;
        window->retriggerStatusTxOnOff(true);
        if (!DeviceTestRig::waitUntil([&]() { return refreshes > first + 10; }))
            fail(QStringLiteral("no status stream"));
        const int before = refreshes;
        mainWindow.frames = 0;
        mainWindow.microseconds = 0;
        const double guiBefore = threadCpuMicroseconds();
        running.push_back(cpuPercentOver(seconds * 1000));
        guiShares.push_back((threadCpuMicroseconds() - guiBefore) / 1e4 / seconds);
        rates.push_back((refreshes - before) / seconds);
        frameRates.push_back(double(mainWindow.frames) / seconds);
        frameCosts.push_back(mainWindow.microseconds / qMax(1, mainWindow.frames));
    }

    QTextStream out(stdout);
    out << "display platform: " << ZunLiveWindow::platform() << ", one gain page of a two-board processor (8 outputs, "
        << page->inputStrips().size() << " inputs) in a sub-window of " << area->viewport()->width() << "x"
        << area->viewport()->height() << ", " << pairs << " x " << seconds << " s each\n";
    out << "status path: the discovery thread's batches to the status server, "
        << (isolated ? "in a private network namespace" : "on this host's loopback (not root)") << "\n";
    auto list = [](const std::vector<double>& v) {
        QStringList s;
        for (double x : v)
            s << QString::number(x, 'f', 2);
        return s.join(QStringLiteral(" "));
    };
    const double r = median(running), s = median(stopped);
    out << QString("streams stopped: %1 % of a core (median; each: %2)\n").arg(s, 0, 'f', 2).arg(list(stopped));
    QStringList perSecond;
    for (int n : rates)
        perSecond << QString::number(n);
    out << QString("streams running: %1 % of a core (median; each: %2), status refreshes/s: %3\n")
               .arg(r, 0, 'f', 2)
               .arg(list(running))
               .arg(perSecond.join(QStringLiteral(" ")));
    out << QString("while running, the GUI thread: %1 % of a core; the window's frames: %2 a second, %3 us of it each "
                   "(medians)\n")
               .arg(median(guiShares), 0, 'f', 2)
               .arg(median(frameRates), 0, 'f', 1)
               .arg(median(frameCosts), 0, 'f', 0);
    out << QString("the page's share: %1 % of a core (goal: at most 1 %)\n").arg(r - s, 0, 'f', 2);
    return 0;
}
