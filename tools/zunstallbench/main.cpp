// zunstallbench: the longest time the GUI thread stays away from its event loop during
// each operator action on the program's real control window, against an emulated
// two-board processor on loopback, with the status streams running while a gain page is
// shown. Each action is done several times, on the page the operator does it from; printed
// per action are the worst stall of each round, their median and their maximum, in wall
// time and, beside it, in the GUI thread's own CPU time (its CPU clock: on a loaded machine
// the thread also waits for a core, which is no work of the program's) and the time it was
// blocked (off the CPU while not idle in its event loop: a sleep, a lock, a flush to the
// disk, which its CPU time cannot see). Goal: every one under 50 ms, in wall time on a
// quiet machine and in CPU and blocked time under load. The display platform is printed
// too: run it offscreen (the default) or under a display (Xvfb). As in the program, a main
// window is shown before the first control window opens.
//
// Usage: zunstallbench [rounds, default 5]
//
// Actions: open (window made, shown, connected, image shown; the gain page), input switch
// (the system tab's "Switch Input"), setup recall (the system tab's "Activate Setup",
// answered Yes), image reload (the processor's image read anew, the gain page shown),
// wizard finish (from the wizard's Finish to the reloaded image shown), configuration load
// (the advanced tab's "Upload Config to Zun", its folder dialog answered, to the load's
// end), garbage collection (the offer the system tab shows when the processor reports its
// flash low, answered "Garbage collection now", to the collection's end with its backup
// put back), reconnect (the system tab's connect button twice: the program shows the
// system tab when the link drops), and a planted 200 ms sleep, which shows what each
// column sees of a thread that waits off the CPU.
#include "CMemoryManager.h"
#include "CRoutingManager.h"
#include "GainWidget.h"
#include "ZunBenchFiles.h"
#include "ZunFileDialogAnswer.h"
#include "ZunMaintenanceActions.h"
#include "ZunBenchArgs.h"
#include "ZunAdvancedSettingsWidget.h"
#include "ZunGarbageCollection.h"
#include "ZunLiveWindow.h"
#include "ZunStallProbe.h"
#include "ZunSystemWidget.h"
#include "ZunWizardWalk.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

namespace
{
constexpr quint32 TwoBoards = 0x0F80;

[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zunstallbench: " << text << Qt::endl;
    ::exit(1);
}

void check(bool ok, const char* what)
{
    if (!ok)
        fail(QStringLiteral("time limit reached while waiting for %1").arg(QLatin1String(what)));
}

// Answers the next modal box to continue: Yes, "Discard and continue" or "Garbage collection
// now"; then runs answered.
void answerNextBoxToContinue(const std::function<void()>& answered = {})
{
    auto* timer = new QTimer;
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, [timer, answered]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
            yes->click();
        } else {
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QStringLiteral("Discard and continue")
                    || b->text() == QStringLiteral("Garbage collection now"))
                    b->click();
        }
        if (answered)
            answered();
    });
    timer->start();
}

// Answers the next folder dialog with the folder, as the operator picks it and clicks Choose.
void answerNextFolderDialog(const QString& folder)
{
    auto* timer = new QTimer;
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, [timer, folder]() {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        zunAnswerFileDialog(dialog, folder);
    });
    timer->start();
}

void activate(QComboBox* box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}

struct Result
{
    QString action;
    std::vector<qint64> worst;
    std::vector<double> worstCpu;
    std::vector<double> worstBlocked;
};

QString figures(std::vector<double> v, int decimals)
{
    QStringList each;
    for (double x : v)
        each << QString::number(x, 'f', decimals);
    std::sort(v.begin(), v.end());
    return QStringLiteral("median %1, max %2 ms (rounds: %3)")
        .arg(v[v.size() / 2], 0, 'f', decimals)
        .arg(v.back(), 0, 'f', decimals)
        .arg(each.join(QStringLiteral(" ")));
}
} // namespace

int main(int argc, char** argv)
{
    const int rounds = zunBenchArgs(argc, argv,
                                    "Usage: zunstallbench [rounds 1-100, default 5]\n"
                                    "The longest the GUI thread stays away from its event loop for each operator\n"
                                    "action of a control window (open, input switch, setup recall, image reload,\n"
                                    "wizard finish, configuration load, garbage collection, reconnect, and a\n"
                                    "planted 200 ms sleep)\n"
                                    "against an emulated processor, in wall, CPU and blocked time. Runs offscreen,\n"
                                    "or under a display when one is named (xvfb-run -a zunstallbench), and says\n"
                                    "which.\n",
                                    {{"rounds", 5, 1, 100}})[0];
    ZunBenchProgram program(argc, argv);

    // The program shows its main window at start, before any control window can be opened
    // from it: the display's one-time set-up for the process's first native window (under
    // X, loading the OpenGL driver: about 50 ms) happens there, not when the operator opens
    // a control window. A plain window stands for it.
    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("zunstallbench"));
    mainWindow.resize(400, 300);
    mainWindow.show();
    QCoreApplication::processEvents();

    ZunLiveWindow live;
    if (!live.start(TwoBoards))
        fail(live.error());
    const QSharedPointer<CZun> zun = live.zun();
    ZunStallProbe probe;
    QList<Result> results;
    auto record = [&](const QString& action, qint64 ms) {
        auto it = std::find_if(results.begin(), results.end(), [&](const Result& r) { return r.action == action; });
        if (it == results.end()) {
            results.append({action, {}, {}, {}});
            it = results.end() - 1;
        }
        it->worst.push_back(ms);
        it->worstCpu.push_back(probe.worstCpuMs());
        it->worstBlocked.push_back(probe.worstBlockedMs());
    };
    // The page the operator does the next action from, shown and settled before it.
    auto onPage = [&](QWidget* page) {
        live.window()->tabWidget()->setCurrentWidget(page);
        check(live.settle(), "a settled link");
    };
    // What a configuration load takes: a FIR set file and a setup file, new to the processor.
    QTemporaryDir configuration;
    zunWriteFirSet(configuration.path(), QStringLiteral("Stall"));
    // Runs an action that ends once done() holds; the figure reaches up to the settled link.
    int images = 0;
    QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, [&images]() { ++images; });
    int round = 0;
    auto measure = [&](const QString& action, const std::function<void()>& act, const std::function<bool()>& done) {
        probe.start();
        act();
        const bool ok = DeviceTestRig::waitUntil(done, 30000);
        if (!ok)
            QTextStream(stderr) << "zunstallbench: " << images << " images, " << live.window()->tabWidget()->count()
                                << " tabs, modal box " << (QApplication::activeModalWidget() ? "open" : "none")
                                << Qt::endl;
        check(ok, qPrintable(QStringLiteral("%1 (round %2)").arg(action).arg(round + 1)));
        check(live.settle(), "a settled link");
        record(action, probe.stop());
    };
    auto imageShown = [&](int before) {
        return [&images, before, &live]() {
            return images > before && live.window()->tabWidget()->count() > 2
                   && live.window()->cursor().shape() != Qt::WaitCursor;
        };
    };

    for (; round < rounds; ++round) {
        // open: the window made and shown, connected with its own button, the image shown
        probe.start();
        live.create();
        check(live.connect(), "the first image");
        record(QStringLiteral("open"), probe.stop());

        ZunControlDlg* w = live.window();
        ZunSystemWidget* system = w->systemTab();
        if (round == 0) {
            // A stored setup to recall.
            zun->SaveSetup(0, QStringLiteral("Stage"));
            check(DeviceTestRig::waitUntil([&]() { return zun->GetMemoryManager()->setupIdAt(0) != 0; }), "a stored setup");
            QMetaObject::invokeMethod(zun->GetSetupManager(), "initialize", Qt::BlockingQueuedConnection);
            check(live.settle(), "the setup list");
            zunWriteSetup(configuration.path(), zun->GetStatusBuffer()->toByteArray(), QStringLiteral("Stall"), 2);
        }

        // a planted 200 ms sleep: what each column sees of a thread waiting off the CPU
        measure(QStringLiteral("planted sleep"), []() { QThread::msleep(200); }, []() { return true; });

        // The system tab's actions from the system tab.
        onPage(system);

        // input switch: another input of the current routing
        auto* inputs = system->findChild<QComboBox*>(QStringLiteral("comboSwitchInput"));
        if (inputs->count() > 1) {
            const int before = images;
            measure(QStringLiteral("input switch"),
                    [&]() { activate(inputs, (inputs->currentIndex() + 1) % inputs->count()); }, imageShown(before));
        }

        // setup recall: setup 0, answered to go on (by this bench alone)
        {
            live.rig().closeBoxes(false);
            auto* setups = system->findChild<QComboBox*>(QStringLiteral("comboSetupSelect"));
            const int before = images;
            measure(QStringLiteral("setup recall"),
                    [&]() {
                        answerNextBoxToContinue();
                        activate(setups, 0);
                    },
                    [&]() { return imageShown(before)() && !system->isLongOperationPending(); });
            live.rig().closeBoxes(true);
        }

        // image reload: the processor's image read anew (as when it reports it out of sync)
        onPage(w->firstGainPage());
        {
            const int before = images;
            measure(QStringLiteral("image reload"), [&]() { zun->RefreshStatusBuffer(); }, imageShown(before));
        }

        // wizard finish: the wizard shown and gone through page by page with its own
        // buttons, another full routing chosen, from the click on Finish to the reloaded
        // image shown
        {
            w->showAdvancedSettings(true);
            const int before = images;
            driveWizard([&](QWizardPage* page) {
                chooseOtherFullRouting(page, zun->GetRoutingManager()->GetFullRouting().getPattern());
            }, [&]() { probe.start(); });
            w->advancedTab()->findChild<QPushButton*>(QStringLiteral("bttnRouting"))->click();
            check(DeviceTestRig::waitUntil(imageShown(before), 30000), "the wizard's image");
            check(live.settle(), "a settled link");
            record(QStringLiteral("wizard finish"), probe.stop());
        }

        // configuration load: the advanced tab's button, its folder dialog answered, to the
        // load's end
        {
            onPage(w->advancedTab());
            int ended = 0;
            const QMetaObject::Connection c = QObject::connect(
                w->advancedTab()->maintenance(), &ZunMaintenanceActions::longOperationFinished,
                [&ended](ZunLongOperation operation) { ended += operation == ZunLongOperation::ConfigLoad; });
            measure(QStringLiteral("config load"),
                    [&]() {
                        answerNextFolderDialog(configuration.path());
                        w->advancedTab()->findChild<QPushButton*>(QStringLiteral("bttnUploadConfig"))->click();
                    },
                    [&]() { return ended > 0; });
            QObject::disconnect(c);
            w->showAdvancedSettings(false);
        }

        // garbage collection: the processor reports its flash low, the offer the system tab
        // shows is answered to collect now (by this bench alone; the closer takes the boxes
        // after it), to the collection's end with its backup put back
        onPage(system);
        {
            bool collected = false;
            const QMetaObject::Connection c =
                QObject::connect(zun->GetGarbageCollection(), &ZunGarbageCollection::signal_Finished,
                                 [&collected](bool, const QString&) { collected = true; });
            const QString backup = zun->GetGarbageCollectionFolder();
            live.rig().closeBoxes(false);
            measure(QStringLiteral("garbage collection"),
                    [&]() {
                        answerNextBoxToContinue([&live]() { live.rig().closeBoxes(true); });
                        emit zun->signal_LowFlashMemory();
                    },
                    [&]() {
                        return collected && !zun->GetGarbageCollection()->isRunning()
                               && (backup.isEmpty() || !QDir(backup).exists());
                    });
            live.rig().closeBoxes(true);
            QObject::disconnect(c);
        }

        // reconnect: the connect button to disconnect and again to connect, on the system
        // tab (where the program puts the operator when the link drops)
        {
            auto* button = system->findChild<QPushButton*>(QStringLiteral("bttnConnect"));
            probe.start();
            button->click();
            check(DeviceTestRig::waitUntil([&]() { return !zun->IsConnected() && button->isEnabled(); }), "the disconnection");
            const int before = images;
            button->click();
            check(DeviceTestRig::waitUntil(imageShown(before), 30000), "the image after reconnecting");
            check(live.settle(), "a settled link");
            record(QStringLiteral("reconnect"), probe.stop());
        }
        live.close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QTextStream out(stdout);
    out << "display platform: " << ZunLiveWindow::platform() << ", two-board processor (8 outputs), " << rounds
        << " rounds, status streams running\n";
    out << "worst event-loop stall per action: wall time, the GUI thread's CPU time and the time it was blocked "
           "(off the CPU while not idle in its event loop) (goal: under 50 ms, wall on a quiet machine, CPU and "
           "blocked under load)\n";
    for (const Result& r : qAsConst(results)) {
        out << QString("  %1 wall    %2\n").arg(r.action + QLatin1Char(':'), -20).arg(figures({r.worst.begin(), r.worst.end()}, 0));
        out << QString("  %1 CPU     %2\n").arg(QString(), -20).arg(figures(r.worstCpu, 1));
        out << QString("  %1 blocked %2\n").arg(QString(), -20).arg(figures(r.worstBlocked, 1));
    }
    return 0;
}
