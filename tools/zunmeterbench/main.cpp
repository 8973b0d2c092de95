// zunmeterbench: what one open gain page costs in the program, beside a floor. The program's
// real control window of an emulated two-board processor (8 outputs) shows its gain page, in
// a sub-window of a main window's area as the program places it; its status streams take
// the program's path: requested and received by a discovery object in its own thread,
// handed on in its batches to the status server (in a network namespace of its own when run
// as root, where the processors' UDP port is free). The CPU time of the whole process
// (getrusage) is taken over a fixed wall time with the status streams running (a datagram
// every 20 ms, as the page asks for them) and, as the reference, the same page with the
// streams stopped.
//
// The floor is what any program pays to show the page's meter rows at the page's rate, with
// nothing else: a reader thread of its own takes the emulator's status stream as the
// discovery's reader does (woken by the first datagram, then taking what has arrived every
// batch period until a batch finds none) and hands each batch to the GUI thread through a
// queued call, where a bare window over the page repaints, with plain fills, the rows the
// page's meters repainted in one of its frames (recorded while the page ran): one frame a
// batch, transferred to the display as the page's are. The three take turns in each pair
// (stopped, page, floor); printed are each one's share of a core over the stopped page, the
// page's ratio to the floor, and the frames of each with the GUI thread's time in them. The
// display platform is printed too: run it offscreen (the default) or under a display (Xvfb).
// A message box the window shows ends the bench with its text: it would hold the
// measurement's event loop until someone answered it.
//
// Usage: zunmeterbench [seconds per measurement, default 10] [pairs, default 3]
#include "AudioIOStatus.h"
#include "GainWidget.h"
#include "MainWindow.h"
#include "ZunBenchArgs.h"
#include "ZunLiveWindow.h"
#include "GainMeterLayer.h"
#include "ZunPrivateNetns.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPaintEvent>
#include <QTextStream>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
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

// A top-level window counting its frames (the toolkit's update requests: the paints of all
// of its widgets and their transfer to the display) and the GUI thread's CPU time in them.
template <typename Window>
class FrameTimed : public Window
{
public:
    int frames = 0;
    double microseconds = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::UpdateRequest)
            return Window::event(e);
        const double start = threadCpuMicroseconds();
        const bool done = Window::event(e);
        microseconds += threadCpuMicroseconds() - start;
        ++frames;
        return done;
    }
};
using FrameTimedWindow = FrameTimed<QMainWindow>;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The regions a widget paints, one a paint event: the page's meter layer, while the page runs.
class PaintRecorder : public QObject
{
public:
    QVector<QRegion> regions;
    bool recording = false;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (recording && e->type() == QEvent::Paint)
            regions.append(static_cast<QPaintEvent*>(e)->region());
        return QObject::eventFilter(watched, e);
    }
};

// The floor's window: a bare top-level widget over the page's place that paints the rows of
// the page's recorded frames in turn, one frame a batch, with plain fills.
class FloorWindow : public FrameTimed<QWidget>
{
public:
    QVector<QRegion> recorded;

    FloorWindow()
    {
        setAttribute(Qt::WA_OpaquePaintEvent, true);
        setAttribute(Qt::WA_NoSystemBackground, true);
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    }
    // A batch came: the next recorded frame's rows are painted.
    void nextFrame()
    {
        if (!recorded.isEmpty())
            update(recorded.at(m_next++ % recorded.size()));
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        // Level and empty pipe in turn, so that every row changes as a moved band does.
        QPainter p(this);
        const QColor fill = m_next % 2 ? QColor(40, 200, 60) : QColor(30, 30, 30);
        for (const QRect& r : e->region())
            p.fillRect(r, fill);
    }

private:
    int m_next = 0;
};

// The floor's reader: a thread of its own on a UDP socket of its own that asks the emulated
// processor for the page's stream (a datagram every 20 ms) and takes it as the discovery's
// reader does, each batch handed to the GUI thread (taker) through a queued call.
class FloorReader
{
public:
    FloorReader(const QHostAddress& processor, QObject* taker, std::function<void(int)> batch)
        : m_processor(processor)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        const int bytes = CZunNetwork::ReceiveBufferBytes;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0
            || ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0)
            fail(QStringLiteral("cannot bind the floor's socket: %1").arg(strerror(errno)));
        m_port = ntohs(a.sin_port);
        m_thread = QThread::create([this, taker, batch] {
            const timespec pause {0, long(CZunNetwork::batchMsFor(20)) * 1000000L};
            char buf[2048];
            for (;;) {
                ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
                if (n == 1)
                    return; // the end marker
                int datagrams = n > 0 ? 1 : 0;
                for (bool any = true; any;) {
                    clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
                    any = false;
                    for (; (n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0; any = true, ++datagrams)
                        if (n == 1)
                            return;
                    if (datagrams > 0)
                        QMetaObject::invokeMethod(taker, [batch, datagrams] { batch(datagrams); }, Qt::QueuedConnection);
                    datagrams = 0;
                }
            }
        });
        m_thread->setObjectName(QStringLiteral("floor reader"));
        m_thread->start();
    }
    ~FloorReader()
    {
        sendTo(QHostAddress(QHostAddress::LocalHost), m_port, QByteArray(1, '\0'));
        m_thread->wait();
        delete m_thread;
        ::close(m_fd);
    }
    // The stream asked for, as the page asks for it.
    void ask() { sendTo(m_processor, ZunUdpDatagram::Port, ZunUdpDatagram::statusRequest(20, 125)); }

private:
    void sendTo(const QHostAddress& to, quint16 port, const QByteArray& data)
    {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(to.toIPv4Address());
        ::sendto(m_fd, data.constData(), size_t(data.size()), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    QHostAddress m_processor;
    int m_fd = -1;
    quint16 m_port = 0;
    QThread* m_thread = nullptr;
};
} // namespace

int main(int argc, char** argv)
{
    const bool isolated = zunEnterPrivateNetns();
    const QVector<int> args = zunBenchArgs(
        argc, argv,
        "Usage: zunmeterbench [seconds per measurement 1-600, default 10] [pairs 1-100, default 3]\n"
        "What one open gain page of an emulated eight-output processor costs in the program (a sub-window\n"
        "of a main window's area, the streams through a discovery thread): the process's CPU time with\n"
        "the status streams running, beside the same page with them stopped, and beside a floor: a bare\n"
        "reader and GUI thread that take the same stream and paint the page's meter rows, one frame a\n"
        "batch, with nothing else; and the page's ratio to the floor. Runs offscreen, or under a\n"
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

    // The floor's window lies over the page's meters and is shown only while it is measured.
    auto* layer = page->findChild<GainMeterLayer*>();
    if (!layer)
        fail(QStringLiteral("the gain page has no meter layer"));
    PaintRecorder recorder;
    layer->installEventFilter(&recorder);
    FloorWindow floor;
    floor.setGeometry(QRect(layer->mapToGlobal(QPoint(0, 0)), layer->size()));
    int floorBatches = 0;
    FloorReader reader(ZunLiveWindow::processorAddress(), &floor, [&floor, &floorBatches](int) {
        ++floorBatches;
        floor.nextFrame();
    });
    QTimer floorAsking;
    floorAsking.setInterval(2300); // as the page asks again
    QObject::connect(&floorAsking, &QTimer::timeout, [&reader]() { reader.ask(); });

    std::vector<double> running, stopped, floored;
    std::vector<int> rates;
    std::vector<double> frameRates, frameCosts, guiShares, floorFrameRates, floorFrameCosts;
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
        recorder.recording = pair == 0;
        running.push_back(cpuPercentOver(seconds * 1000));
        recorder.recording = false;
        guiShares.push_back((threadCpuMicroseconds() - guiBefore) / 1e4 / seconds);
        rates.push_back((refreshes - before) / seconds);
        frameRates.push_back(double(mainWindow.frames) / seconds);
        frameCosts.push_back(mainWindow.microseconds / qMax(1, mainWindow.frames));

        // The floor: the page's stream runs out, the floor's window shows over the page.
        live.setStreams(false);
        floor.show();
        cpuPercentOver(3000);
        if (recorder.regions.isEmpty())
            fail(QStringLiteral("the page's meters painted nothing while the streams ran"));
        floor.recorded = recorder.regions;
        reader.ask();
        floorAsking.start();
        const int floorFirst = floorBatches;
        if (!DeviceTestRig::waitUntil([&]() { return floorBatches > floorFirst + 10; }))
            fail(QStringLiteral("no status stream reached the floor"));
        floor.frames = 0;
        floor.microseconds = 0;
        floored.push_back(cpuPercentOver(seconds * 1000));
        floorFrameRates.push_back(double(floor.frames) / seconds);
        floorFrameCosts.push_back(floor.microseconds / qMax(1, floor.frames));
        floorAsking.stop();
        floor.hide();
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
    const double f = median(floored);
    out << QString("floor: %1 % of a core (median; each: %2); its frames: %3 a second, %4 us of it each (medians)\n")
               .arg(f, 0, 'f', 2)
               .arg(list(floored))
               .arg(median(floorFrameRates), 0, 'f', 1)
               .arg(median(floorFrameCosts), 0, 'f', 0);
    // Each pair's shares over its own stopped page.
    std::vector<double> pageShares, floorShares, ratios;
    for (size_t i = 0; i < running.size(); ++i) {
        pageShares.push_back(running[i] - stopped[i]);
        floorShares.push_back(floored[i] - stopped[i]);
        ratios.push_back(floorShares.back() > 0 ? pageShares.back() / floorShares.back() : 0);
    }
    out << QString("the page's share: %1 % of a core, the floor's: %2 % (medians; each: %3 and %4)\n")
               .arg(median(pageShares), 0, 'f', 2)
               .arg(median(floorShares), 0, 'f', 2)
               .arg(list(pageShares))
               .arg(list(floorShares));
    out << QString("ratio page / floor: %1 (median; each: %2; goal: at most 1.5)\n")
               .arg(median(ratios), 0, 'f', 2)
               .arg(list(ratios));
    return 0;
}
