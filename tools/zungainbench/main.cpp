// zungainbench: the time from an operator's gain edit on the gain page to the strip
// showing the value the processor confirmed, against an emulated processor on loopback.
// Printed beside it, from the same run and round by round with it: a bare command round
// trip on a plain socket, the two-hop floor (a bare client whose request and reply each
// cross one Qt event loop, as the edit's must) and the command round trip of the device's
// own link, and the floor of the edit: the same two hops plus the same repaint of a strip
// (a twin of the edited strip, shown beside the page, takes the same value as the hops
// start; its repaint runs in the event loop that waits for the reply, as the edit's does).
// Every wait is on the event that ends it, never a polling sleep. The ratio of the edit to
// that floor is the figure. Bounded: a fixed number of rounds, a time
// limit for each wait. The page is shown, so that it repaints while an edit is on its way
// as in the program: under a display when one is named (xvfb-run -a zungainbench), else
// offscreen; the platform is printed with the figures.
#include "AudioIOStatus.h"
#include "CZunParam.h"
#include "GainWidget.h"
#include "MasterGainDelayWidget.h"
#include "OutputGainLevelWidget.h"
#include "ZunBenchArgs.h"
#include "ZunBaseComm.h"
#include "ZunFloorClients.h"
#include "ZunMetaTypes.h"
#include "ZunSimDevice.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QTextStream>
#include <QWindow>

#include <algorithm>
#include <vector>

namespace
{
constexpr int Rounds = 1000;
constexpr int WarmUp = 50;
constexpr int TimeLimitMs = 120000;

using ZunFloor::fail;
using ZunFloor::nowNs;

double percentile(std::vector<qint64> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return double(v[i]) / 1000.0; // microseconds
}

// Runs this thread's event loop until done() holds, woken by whatever poke() is connected
// to; fails after the time limit.
class EventWait
{
public:
    void poke()
    {
        if (m_loop && m_done && m_done())
            m_loop->quit();
    }
    void until(const std::function<bool()>& done, const char* what)
    {
        if (done())
            return;
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(TimeLimitMs);
        m_loop = &loop;
        m_done = done;
        loop.exec();
        m_loop = nullptr;
        m_done = nullptr;
        if (!done())
            fail(QStringLiteral("time limit reached while waiting for %1").arg(QLatin1String(what)));
    }

private:
    QEventLoop* m_loop = nullptr;
    std::function<bool()> m_done;
};

void line(QTextStream& out, const QString& name, const std::vector<qint64>& v)
{
    out << QString("%1 median %2 us, p99 %3 us\n").arg(name, -28).arg(percentile(v, 0.5), 0, 'f', 1).arg(percentile(v, 0.99), 0, 'f', 1);
}
} // namespace

int main(int argc, char** argv)
{
    zunBenchArgs(argc, argv,
                 "Usage: zungainbench\n"
                 "The time from a gain edit on a shown gain page to its strip showing the value the\n"
                 "emulated processor confirmed, beside bare clients' round trips in the same run. Runs\n"
                 "under a display when one is named (xvfb-run -a zungainbench), else offscreen, and says which.\n"
                 "Takes no arguments.\n",
                 {});
    DeviceTestRig::Config config; // settings of the run's own
    zunOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    registerZunMetaTypes();

    std::vector<qint64> edits, bare, floor, repaint, commands;
    {
        ZunSimDevice device;
        if (!device.start(ZunSimDevice::Options()))
            fail(device.error());
        QSharedPointer<CZun> zun = device.zun();
        const QSharedPointer<CCmdMap> map = zun->GetCmdMap();
        GainWidget page(1, zun, QSharedPointer<AudioIOStatus>::create(map));
        QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, &page, &GainWidget::UpdateGui);
        page.UpdateGui();
        if (!DeviceTestRig::waitUntil([&]() { return !page.outputStrips().isEmpty(); }, 20000))
            fail(QStringLiteral("the page built no output strips"));
        page.resize(page.sizeHint().expandedTo(QSize(900, 600)));
        page.show();
        if (!DeviceTestRig::waitUntil([&]() { return page.windowHandle() && page.windowHandle()->isExposed(); }, 20000))
            fail(QStringLiteral("the gain page was not shown"));

        OutputGainLevelWidget* strip = page.outputStrip(ZunC::Output2);
        QDoubleSpinBox* box = strip->gainSpinBox();
        // The floor's strip: as the edited one is built, a window of its own beside the page.
        OutputGainLevelWidget twin;
        if (const CZunParam* range = zun->GetChannelGainParam())
            twin.setGainRange(range->GetMin(), range->GetMax());
        twin.setName(strip->name());
        twin.drawGainScale(true);
        twin.drawLevelScale(true);
        twin.drawGainReductionScale(true);
        twin.resize(strip->size());
        twin.move(page.geometry().topRight() + QPoint(10, 0));
        twin.show();
        if (!DeviceTestRig::waitUntil([&]() { return twin.windowHandle() && twin.windowHandle()->isExposed(); }, 20000))
            fail(QStringLiteral("the floor's strip was not shown"));
        EventWait wait;
        // Connected after the page: when this runs, the page has shown the confirmation.
        double confirmed = 1000.0;
        QObject::connect(zun.data(), &CZun::signal_ChannelGain, &page, [&](ZunC::AnalogOutputs o, double gain) {
            if (o == ZunC::Output2)
                confirmed = gain;
            wait.poke();
        });
        int edit = 0;
        const auto editOnce = [&]() {
            const double target = -10.0 + 0.1 * (edit++ % 100); // every edit a new value
            confirmed = 1000.0;
            const qint64 t = nowNs();
            box->setValue(target);
            wait.until([&]() { return qAbs(confirmed - target) < 1e-4 && qAbs(box->value() - target) < 1e-4; },
                       "a confirmation");
            return nowNs() - t;
        };

        // The device's own link: a command and its reply, nothing else.
        ZunBaseComm* link = zun->GetLink();
        const quint16 memId = map->getCmdNr("Cmd_MemID0");
        bool answered = false;
        const auto commandOnce = [&](int i) {
            // Listening only meanwhile: the edit's replies reach this thread no other way
            // than the program's.
            const auto c = QObject::connect(link, &ZunBaseComm::signal_CmdProcessed, &page, [&](CZunCmd c) {
                if (c.getCmd() == memId)
                    answered = true;
                wait.poke();
            });
            answered = false;
            const qint64 t = nowNs();
            link->sendCmd(memId, quint16(i & 0xFF));
            wait.until([&]() { return answered; }, "a command's reply");
            const qint64 ns = nowNs() - t;
            QObject::disconnect(c);
            return ns;
        };

        ZunFloor::BareSocket bareSocket(device.sim().tcpPort());
        ZunFloor::TwoHopClient twoHop(device.sim().tcpPort());
        const quint16 bareCmd = map->getCmdNr("Cmd_MemID1");
        int shown = 0;
        const auto repaintFloorOnce = [&](int i) {
            const double target = -10.0 + 0.1 * (shown++ % 100);
            const qint64 t = nowNs();
            twin.setGain(target, true);
            twoHop.roundTrip(bareCmd, i, TimeLimitMs);
            return nowNs() - t;
        };
        for (int i = 0; i < WarmUp + Rounds; ++i) {
            const qint64 e = editOnce(), b = bareSocket.roundTrip(bareCmd, i),
                         f = twoHop.roundTrip(bareCmd, i, TimeLimitMs), r = repaintFloorOnce(i), c = commandOnce(i);
            if (i < WarmUp)
                continue;
            edits.push_back(e);
            bare.push_back(b);
            floor.push_back(f);
            repaint.push_back(r);
            commands.push_back(c);
        }
    }

    QTextStream out(stdout);
    out << "display platform: " << QGuiApplication::platformName() << ", the gain page shown\n";
    out << "rounds: " << Rounds << " (after " << WarmUp << " warm-up rounds), each an edit, a bare round trip, "
        << "a two-hop round trip, two hops with the repaint of a strip and a link command\n";
    line(out, QStringLiteral("edit to confirmed strip:"), edits);
    line(out, QStringLiteral("bare socket RTT:"), bare);
    line(out, QStringLiteral("two-hop floor RTT:"), floor);
    line(out, QStringLiteral("two hops + strip repaint:"), repaint);
    line(out, QStringLiteral("command RTT, this link:"), commands);
    const auto ratio = [&](const char* name, const std::vector<qint64>& ref, const char* goal) {
        out << QString("%1 median %2, p99 %3%4\n")
                   .arg(QLatin1String(name), -28)
                   .arg(percentile(edits, 0.5) / percentile(ref, 0.5), 0, 'f', 2)
                   .arg(percentile(edits, 0.99) / percentile(ref, 0.99), 0, 'f', 2)
                   .arg(QLatin1String(goal));
    };
    ratio("ratio edit / bare:", bare, "");
    ratio("ratio edit / two-hop floor:", floor, "");
    ratio("ratio edit / hops + repaint:", repaint, " (goal: at most 1.2)");
    return 0;
}
