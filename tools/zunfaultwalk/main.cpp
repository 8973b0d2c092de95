// zunfaultwalk: each long operation of a control window under each link fault of the
// emulator. For every (operation, fault) a process of its own opens the program's real
// control window for an emulated two-board processor on loopback, sets the fault on the
// emulator and at once starts the operation through the window's own code path, so that
// the fault strikes the operation's first exchange. One row each: whether the operation
// got onto the link; whether it ended (the window idle for a second: no transfer pending,
// no long operation, no wait cursor) and how long after the fault; the message boxes and
// other modal dialogs it showed (each closed as it shows; one is what an operator should
// see); the longest time the GUI thread stayed away from its event loop (goal: under
// 50 ms), up to the window ready again after the fault is cleared (connected anew with its
// own button when the link is gone); how long that took; what the operation took for its
// time and had not given back by then (the loss report, the processor's keep-alive, its
// place in the list of long operations, the busy tab, a collection's backup folder);
// whether the process then quit.
// Every row has its time limit; a process that does not answer is ended.
//
// Usage: zunfaultwalk [--timeout SECONDS] [--jobs N] [--only TEXT] [--verbose]
#include "CMemoryManager.h"
#include "CRoutingManager.h"
#include "CZunFIRLimManager.h"
#include "ZunOperations.h"
#include "FilterLimiterEWS.h"
#include "LimiterWidget.h"
#include "PromptAnswers.h"
#include "ZunBenchFiles.h"
#include "ZunAdvancedSettingsWidget.h"
#include "ZunFirSetupActions.h"
#include "ZunLimModel.h"
#include "ZunLiveWindow.h"
#include "ZunStallProbe.h"
#include "ZunSystemWidget.h"
#include "ZunToolName.h"
#include "ZunWizardWalk.h"

#include <QCommandLineParser>
#include <QDialog>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>

#include <optional>

namespace
{
const QStringList Operations = {"setup store",   "setup upload", "limiter submit",  "FIR upload",
                                "wizard finish", "config load",  "firmware update", "garbage collection"};
// "none": the operation's own end; "refuse": the processor refuses the operation's
// decisive step (its store, its copy into the flash, its check, its erase).
const QStringList Faults = {"none", "refuse", "droplink", "silent", "corrupt", "delay 3000"};
constexpr int QuietMs = 1000; // the window idle this long: the operation has ended
constexpr quint32 TwoBoards = 0x0F80;

// How a row's process ended after its result line: only a clean exit is a clean quit.
QString quitText(bool killed, int code, QProcess::ExitStatus status)
{
    if (killed)
        return QStringLiteral("hung");
    if (status == QProcess::CrashExit)
        return QStringLiteral("crashed");
    return code == 0 ? QStringLiteral("yes") : QStringLiteral("exit %1").arg(code);
}

// The maintenance actions' messages shown as the program shows them (a box), its
// questions answered Yes.
class BoxedAnswers : public PromptAnswers
{
public:
    void message(QMessageBox::Icon icon, const QString& text) override
    {
        ZunMaintenanceActions::Prompts::message(icon, text);
    }
};

// Modal dialogs other than message boxes (the rig closes and counts those) and the
// wizard (its row walks it): noted, closed.
class DialogCloser
{
public:
    DialogCloser()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this]() {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog && !qobject_cast<QMessageBox*>(dialog) && !dynamic_cast<CZunConfigWizard*>(dialog)
                && dialog->isVisible()) {
                texts << QStringLiteral("dialog \"%1\"").arg(dialog->windowTitle());
                dialog->reject();
            }
        });
        m_timer.start(20);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

// One row, in its own process: the result line on the standard output.
int runRow(int row, int timeoutMs)
{
    const QString operation = Operations.value(row / Faults.size()), fault = Faults.value(row % Faults.size());
    QTextStream out(stdout);
    auto refuse = [&](const QString& why) {
        out << "row\t" << row << "\terror\t" << why << Qt::endl;
        return 1;
    };
    if (operation.isEmpty())
        return refuse(QStringLiteral("no such row"));
    // As in the program, a main window is shown before a control window opens.
    QWidget mainWindow;
    mainWindow.resize(400, 300);
    mainWindow.show();
    ZunLiveWindow live;
    if (!live.start(TwoBoards))
        return refuse(live.error());
    live.create();
    if (!live.connect())
        return refuse(QStringLiteral("no first image"));
    ZunControlDlg* w = live.window();
    const QSharedPointer<CZun> zun = live.zun();
    w->showAdvancedSettings(true);
    ZunAdvancedSettingsWidget* tab = w->advancedTab();
    auto* answers = new BoxedAnswers;
    tab->maintenance()->setPrompts(std::unique_ptr<PromptAnswers>(answers));
    tab->maintenance()->setFirmwareFinishDelayMs(1000);
    ZunStallProbe probe;
    qint64 stall = 0;
    // The fault is set just before the operation's first exchange (for the wizard, as the
    // operator presses Finish): nothing reaches the link between the two, so the fault
    // strikes the operation's own traffic, not an idle keep-alive. The emulator's
    // confirmation is the tool's own wait, outside the stall figure.
    QElapsedTimer sinceFault;
    bool faultSet = false;
    const auto nr = [&](const char* name) { return zun->GetCmdMap()->getCmdNr(name); };
    QString control = fault;
    if (fault == QLatin1String("none"))
        control = QStringLiteral("delay 0");
    else if (fault == QLatin1String("refuse"))
        control = operation == QLatin1String("firmware update")      ? QStringLiteral("failcheck")
                  : operation == QLatin1String("garbage collection") ? QStringLiteral("refuse %1").arg(nr("Cmd_BulkEraseF"))
                  : operation == QLatin1String("setup store")        ? QStringLiteral("refuse %1").arg(nr("Cmd_SetupStore"))
                                                                      : QStringLiteral("failupload");
    auto inject = [&]() {
        faultSet = live.rig().sim()->control(control);
        sinceFault.start();
        probe.start();
    };

    // What the operation takes: a FIR set file and a setup file, both new to the processor.
    QTemporaryDir files;
    const QString setFile = zunWriteFirSet(files.path(), QStringLiteral("Walk"));
    const QString setupFile =
        zunWriteSetup(files.path(), zun->GetStatusBuffer()->toByteArray(), QStringLiteral("Walk"), 2);

    std::function<void()> start;
    std::optional<ZunLongOperation> flag;
    bool injectedByStart = false;
    if (operation == QLatin1String("setup store")) {
        start = [&]() { tab->firSetup()->storeSetupAs(1, QStringLiteral("Walk")); };
    } else if (operation == QLatin1String("setup upload")) {
        flag = ZunLongOperation::SetupUpload;
        start = [&]() { tab->firSetup()->startSetupUpload(setupFile, 2); };
    } else if (operation == QLatin1String("limiter submit")) {
        ZunLimModel* model = w->limiterPage()->model();
        if (!DeviceTestRig::waitUntil([&]() { return model->setOfColumn(0) != nullptr; }, 10000)
            || !model->setData(model->index(ZunLimModel::RowGain, 0), 20.0))
            return refuse(QStringLiteral("no limiter set to edit"));
        start = [&]() { w->limiterPage()->submitButton()->click(); };
    } else if (operation == QLatin1String("FIR upload")) {
        flag = ZunLongOperation::FirUpload;
        start = [&]() { tab->firSetup()->startFIRFilterUpload(setFile); };
    } else if (operation == QLatin1String("wizard finish")) {
        answers->wizard = [&](CZunConfigWizard& wizard) {
            const quint32 current = zun->GetRoutingManager()->GetFullRouting().getPattern();
            // The fault just before the operator's click on Finish.
            driveWizard([current](QWizardPage* page) { chooseOtherFullRouting(page, current); }, inject);
            return wizard.exec() == QDialog::Accepted;
        };
        injectedByStart = true;
        start = [&]() { tab->findChild<QPushButton*>(QStringLiteral("bttnRouting"))->click(); };
    } else if (operation == QLatin1String("config load")) {
        flag = ZunLongOperation::ConfigLoad;
        answers->folderChoice = files.path();
        start = [&]() { tab->onLoadConfig(); };
    } else if (operation == QLatin1String("firmware update")) {
        flag = ZunLongOperation::Firmware;
        answers->firmware = PromptAnswers::writeFirmware(files.path());
        start = [&]() { tab->updateFirmware(); };
    } else {
        // The collection of a processor holding a setup of its own beside its sets.
        zun->SaveSetup(1, QStringLiteral("Walk"));
        if (!live.settle())
            return refuse(QStringLiteral("the setup was not stored"));
        flag = ZunLongOperation::GarbageCollection;
        start = [&]() { zun->doGarbageCollection(); };
    }
    if (!live.settle())
        return refuse(QStringLiteral("the link did not settle"));
    live.rig().takeBoxes();
    DialogCloser dialogs;

    // Any long operation the device lists (a collection goes on as the restore a
    // connection runs).
    auto running = [&]() { return !zun->GetOperations()->running().isEmpty(); };
    auto idle = [&]() {
        const QList<QWidget*> widgets = {w, tab, w->systemTab()};
        for (QWidget* busy : widgets)
            if (busy->cursor().shape() == Qt::WaitCursor)
                return false;
        return !running() && !zun->IsApplyingRouting() && DeviceTestRig::transfersIdle(zun.data());
    };
    if (!injectedByStart)
        inject();
    start();
    const bool started =
        DeviceTestRig::waitUntil([&]() {
            return running() || zun->IsApplyingRouting() || !DeviceTestRig::transfersIdle(zun.data());
        }, 3000);
    if (!faultSet)
        return refuse(QStringLiteral("the emulator did not take \"%1\"").arg(fault));
    qint64 quietSince = -1;
    const bool ended = DeviceTestRig::waitUntil([&]() {
        if (!idle()) {
            quietSince = -1;
            return false;
        }
        if (quietSince < 0)
            quietSince = sinceFault.elapsed();
        return sinceFault.elapsed() - quietSince >= QuietMs;
    }, timeoutMs);
    // The fault cleared, the window connected again with its own button (when the link is
    // gone) and its image shown: still within the stall figure.
    stall = qMax(stall, probe.stop());
    live.rig().sim()->control(control.section(QLatin1Char(' '), 0, 0) + (control.startsWith("delay") ? " 0" : " off"));
    QElapsedTimer reconnect;
    reconnect.start();
    probe.start();
    const bool back = zun->IsConnected() ? live.settle() : live.connect();
    const qint64 reconnectMs = reconnect.elapsed();
    stall = qMax(stall, probe.stop());
    // What the operation took and has not given back once the window is ready again (a
    // restore the connection started has its time to end first).
    const QString backup = zun->GetGarbageCollectionFolder();
    DeviceTestRig::waitUntil([&]() { return idle() && (backup.isEmpty() || !QDir(backup).exists()); }, 30000);
    live.settle();
    QStringList kept;
    if (zun->IsLinkLossReportedByOperation())
        kept << QStringLiteral("loss report");
    const int closeTime = live.rig().sim()->query(QStringLiteral("get %1").arg(nr("Cmd_TCPCloseTime")),
                                                  QStringLiteral("word ")).section(QLatin1Char(' '), 2, 2).toInt();
    if (closeTime != 15 || !zun->IsTcpCheckOn())
        kept << QStringLiteral("keep-alive %1%2").arg(closeTime).arg(zun->IsTcpCheckOn() ? "" : " unwatched");
    if (!zun->GetOperations()->running().isEmpty())
        kept << QStringLiteral("listed: %1").arg(zun->GetOperations()->runningTexts().join(QStringLiteral(", ")));
    if (tab->cursor().shape() == Qt::WaitCursor)
        kept << QStringLiteral("tab busy");
    if (!backup.isEmpty() && QDir(backup).exists())
        kept << QStringLiteral("backup folder");
    const QStringList boxes = live.rig().takeBoxes() + dialogs.texts;

    QStringList shown;
    for (const QString& text : boxes)
        shown << text.simplified(); // one line, no tabs
    out << "row\t" << row << "\t" << ZunLiveWindow::platform() << "\t" << (started ? "yes" : "no") << "\t"
        << (ended ? "yes" : "no") << "\t"
        << (ended ? QString::number(quietSince / 1000.0, 'f', 1) : QStringLiteral("-"))
        << "\t" << boxes.size() << "\t" << stall << "\t"
        << (back ? QString::number(reconnectMs / 1000.0, 'f', 1) : QStringLiteral("no")) << "\t"
        << (kept.isEmpty() ? QStringLiteral("all") : QStringLiteral("not: ") + kept.join(QStringLiteral(", "))) << "\t"
        << shown.join(QStringLiteral(" | ")) << Qt::endl;
    return 0;
}

struct Child
{
    int row = 0;
    QProcess* process = nullptr;
    QString line;
    bool killed = false;
};

// The rows in their processes, jobs at a time; each is ended after its limit and a grace.
int walk(const QCommandLineParser& p, const QString& self)
{
    const int timeoutS = qMax(5, p.value(QStringLiteral("timeout")).toInt());
    const int jobs = qMax(1, p.value(QStringLiteral("jobs")).toInt());
    QList<int> rows;
    for (int r = 0; r < Operations.size() * Faults.size(); ++r) {
        const QString name = Operations[r / Faults.size()] + QLatin1Char(' ') + Faults[r % Faults.size()];
        if (name.contains(p.value(QStringLiteral("only")), Qt::CaseInsensitive))
            rows << r;
    }
    QTextStream out(stdout);
    out << "zunfaultwalk: " << rows.size() << " rows, " << jobs << " at a time, at most " << timeoutS
        << " s each after the fault; two-board processor (8 outputs) emulated on loopback" << Qt::endl;
    // In the table's order once all have ended; rows end in any order.
    QMap<int, QString> table, notes;
    QString platform = QStringLiteral("(none measured)");
    const int total = rows.size();
    int running = 0;
    auto next = [&](auto& self_) -> void {
        while (running < jobs && !rows.isEmpty()) {
            auto* child = new Child;
            child->row = rows.takeFirst();
            child->process = new QProcess;
            if (!p.isSet(QStringLiteral("verbose")))
                child->process->setStandardErrorFile(QProcess::nullDevice());
            else
                child->process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            ++running;
            // The connection, the operation and the fault's limit, then the quit.
            auto* limit = new QTimer(child->process);
            limit->setSingleShot(true);
            QObject::connect(limit, &QTimer::timeout, [child]() {
                child->killed = true;
                child->process->kill();
            });
            limit->start((timeoutS + 120) * 1000);
            QObject::connect(child->process, &QProcess::readyReadStandardOutput, [child, limit]() {
                child->line += QString::fromUtf8(child->process->readAllStandardOutput());
                if (child->line.contains(QLatin1Char('\n')))
                    limit->start(15000); // the result is in: the quit may take this long
            });
            QObject::connect(child->process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished),
                             [&, child](int code, QProcess::ExitStatus status) {
                QStringList f = child->line.trimmed().split(QLatin1Char('\t'));
                const QString name = Operations[child->row / Faults.size()], fault = Faults[child->row % Faults.size()];
                if (f.value(2) == QLatin1String("error") || f.size() < 10) {
                    table[child->row] = QString("%1 %2 not measured: %3\n")
                               .arg(name, -18)
                               .arg(fault, -11)
                               .arg(f.size() > 3    ? f.value(3)
                                    : child->killed ? QStringLiteral("ended after the time limit, no answer")
                                                    : QStringLiteral("the row's process failed"));
                } else {
                    platform = f[2];
                    table[child->row] = QString("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
                               .arg(name, -18).arg(fault, -11).arg(f[3], -9).arg(f[4], -5).arg(f[5], -13)
                               .arg(f[6], -5).arg(f[7], -16).arg(f[8], -12).arg(quitText(child->killed, code, status), -5)
                               .arg(f[9]);
                    if (!f.value(10).isEmpty())
                        notes[child->row] = QStringLiteral("%1, %2: %3").arg(name, fault, f[10]);
                }
                QTextStream(stderr) << "zunfaultwalk: " << table.size() << " of " << total << " rows done" << Qt::endl;
                child->process->deleteLater();
                delete child;
                --running;
                if (running == 0 && rows.isEmpty())
                    QCoreApplication::quit();
                else
                    self_(self_);
            });
            child->process->start(self, {QStringLiteral("--row"), QString::number(child->row),
                                         QStringLiteral("--timeout"), QString::number(timeoutS)});
        }
    };
    if (rows.isEmpty())
        return 0;
    next(next);
    QCoreApplication::exec();
    out << "display platform: " << platform << "\n"
        << QString("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
               .arg("operation", -18).arg("fault", -11).arg("started", -9).arg("ended", -5).arg("s after fault", -13)
               .arg("boxes", -5).arg("longest stall ms", -16).arg("then ready s", -12).arg("quit", -5).arg("given back");
    for (const QString& line : table)
        out << line;
    out << "goal per row: ended yes, 1 box (its end's), longest stall under 50 ms, quit yes, "
           "given back all\n";
    if (!notes.isEmpty())
        out << "boxes and dialogs shown:\n  " << notes.values().join(QStringLiteral("\n  ")) << "\n";
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "--row") == 0) {
            const int row = atoi(argv[i + 1]);
            int timeoutS = 60;
            for (int j = 1; j + 1 < argc; ++j)
                if (qstrcmp(argv[j], "--timeout") == 0)
                    timeoutS = atoi(argv[j + 1]);
            ZunBenchProgram program(argc, argv);
            return runRow(row, timeoutS * 1000);
        }
    zunToolName(argv);
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Each long operation of a control window (%1) under each link fault of the emulator (%2), against an "
        "emulated processor on loopback, one process per row. Prints per row whether the operation ended, how "
        "long after the fault, the message boxes and dialogs shown and the longest GUI-thread stall. Runs "
        "offscreen without a display, else on it (xvfb-run -a for a virtual one), and says which.")
                                      .arg(Operations.join(QStringLiteral(", ")), Faults.join(QStringLiteral(", "))));
    p.addHelpOption();
    p.addOptions({{"timeout", "Time limit of a row after its fault (default 60).", "seconds", "60"},
                  {"jobs", "Rows run at once (default 1; more spoil the stall figures).", "n", "1"},
                  {"only", "Only the rows whose \"operation fault\" contains this text.", "text", ""},
                  {"verbose", "Pass the rows' warnings and the emulator's lines on to the error output."}});
    p.process(app);
    return walk(p, QCoreApplication::applicationFilePath());
}
