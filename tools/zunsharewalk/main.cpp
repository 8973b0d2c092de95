// zunsharewalk: configuration loads and garbage collections while a second program
// connects to the same processor. The processor is shared: another program's connection
// reads pass through its one transfer buffer, between this program's block writes and
// their stores. Each row runs one operation through the program's own code path against
// an emulated two-board processor on loopback, and starts a second program (a device
// object of its own, with a configuration folder of its own, so that it reads every set
// and setup) at a moment of its own, spread over the operation. One row each: when the
// second program connected, what the emulator's flash then held (by name, from the files
// the operation stores; "?" for an entry that is none of them, "x2" for one stored twice)
// and whether that is exactly what should be there, and what the operator was told (the
// operation's report and every box). In every second collection the second program also
// stores a FIR set of its own, which then belongs in the flash too.
//
// Usage: zunsharewalk [--loads N] [--collections N] [--delay MS] [--verbose]
#include "CMemoryManager.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "DeviceTestRig.h"
#include "FilterLimiterEWS.h"
#include "PromptAnswers.h"
#include "TcpSimProcess.h"
#include "ZunConfigFolder.h"
#include "ZunGarbageCollection.h"
#include "ZunMaintenanceActions.h"
#include "ZunOperations.h"
#include "ZunToolName.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <memory>

using namespace DeviceTestRig;

namespace
{
constexpr quint32 TwoBoards = 0x0F80;
constexpr quint16 Serial = 42;
constexpr int OperationLimitMs = 120000;

bool verbose = false;

void say(const QString& line)
{
    if (verbose)
        QTextStream(stderr) << "zunsharewalk: " << line << Qt::endl;
}

// A FIR set file of its own coefficients; its id.
quint32 writeSet(const QString& folder, const QString& name, int seed)
{
    FilterLimiterEWS set(QString(), 48000.0);
    for (int o = 0; o < 4; ++o)
        set.setOutput(o, QVector<qint32>(64, 700 * seed + 90 * o), 8, o);
    set.SetName(name);
    set.computeKey();
    set.toFile(folder, false);
    return set.getKey();
}

class Walk
{
public:
    bool start(int delayMs, QString* error)
    {
        m_sim = std::make_unique<TcpSimProcess>();
        if (!m_sim->start({"--serial", QString::number(Serial), "--firmware", "1080", "--hardware",
                           QString::number(TwoBoards)})) {
            *error = m_sim->error();
            return false;
        }
        m_zun = device();
        QObject::connect(m_zun.data(), &CZun::signal_exception, m_zun.data(),
                         [this](QString text, QString) { m_told << QStringLiteral("box: ") + text.simplified(); });
        m_zun->connect(true);
        if (!waitUntil([this]() { return m_zun->IsFIRManagerReady(); }, 30000) || !settleFirstSet(m_zun.data())) {
            *error = QStringLiteral("the first connection did not settle");
            return false;
        }
        // Every answer a little later, as a processor's: the operations and the second
        // program's reads overlap for longer.
        m_sim->control(QStringLiteral("delay %1").arg(delayMs));
        m_tab = std::make_unique<QWidget>();
        m_actions = new ZunMaintenanceActions(m_zun, m_tab.get());
        m_answers = PromptAnswers::install(m_actions);
        QObject::connect(m_actions, &ZunMaintenanceActions::signal_log, m_actions, [this](QString line) {
            if (line.startsWith(QStringLiteral("Configuration loaded")) || line.contains(QStringLiteral("not loaded")))
                m_told << QStringLiteral("report: ") + line.simplified();
        });
        QObject::connect(m_actions, &ZunMaintenanceActions::longOperationFinished, m_actions,
                         [this](ZunLongOperation operation) { m_ended = m_ended || operation == ZunLongOperation::ConfigLoad; });
        QObject::connect(m_zun->GetGarbageCollection(), &ZunGarbageCollection::signal_Finished, m_actions,
                         [this](bool ok, QString text) {
                             if (ok) // a failure is a box of the device's already
                                 m_told << QStringLiteral("report: ") + text.simplified();
                             m_ended = true;
                         });
        return prepare(error);
    }

    // One load of the folder, after an erase, with the second program at delayMs.
    void load(int row, int delayMs)
    {
        QString why;
        if (!erase(&why)) {
            line(row, QStringLiteral("load"), delayMs, QStringLiteral("not measured: ") + why, QString(), false);
            return;
        }
        run(row, QStringLiteral("load"), delayMs, [this]() {
            m_answers->folderChoice = m_folder.path();
            m_actions->onLoadConfig();
        });
    }

    // One collection of the folder's sets and setups, stored and some replaced since, with
    // the second program at delayMs.
    // otherStores: the second program stores a FIR set of its own once its lists are read.
    void collect(int row, int delayMs, bool otherStores)
    {
        QString why;
        const QString operation = otherStores ? QStringLiteral("collection, other stores") : QStringLiteral("collection");
        if (!erase(&why) || !loadAlone(&why)) {
            line(row, operation, delayMs, QStringLiteral("not measured: ") + why, QString(), false);
            return;
        }
        m_otherStores = otherStores;
        run(row, operation, delayMs, [this]() { m_zun->doGarbageCollection(); });
        m_otherStores = false;
    }

    // How long a load alone takes (its report once the flash settled).
    qint64 loadMs()
    {
        QString why;
        if (!erase(&why))
            return -1;
        QElapsedTimer t;
        t.start();
        return loadAlone(&why) ? t.elapsed() : -1;
    }

    // How long a collection alone takes, to its report.
    qint64 collectionMs()
    {
        QString why;
        if (!erase(&why) || !loadAlone(&why))
            return -1;
        m_ended = false;
        QElapsedTimer t;
        t.start();
        m_zun->doGarbageCollection();
        waitUntil([this]() { return m_ended; }, OperationLimitMs);
        return t.elapsed();
    }

private:
    QSharedPointer<CZun> device() const
    {
        auto d = QSharedPointer<CZun>::create(record(1080, Serial, 0, TwoBoards), map(1080), QSharedPointer<CRoutingLibrary>());
        d->SetPort(m_sim->tcpPort());
        d->SetRoutingPauseMs(20);
        return d;
    }

    // The folder: the pass-through set, two sets of the operator's and three setups, as
    // "Save config" writes them; the names of every id the flash may list.
    bool prepare(QString* error)
    {
        const QDir dir(m_folder.path());
        m_names.insert(m_zun->GetActiveFilterIndex(1), QStringLiteral("thru"));
        // The set the second program stores, when it stores one.
        const QShPtrFLE other = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0);
        other->setAmpGain(6.0, 0);
        other->computeKey();
        m_names.insert(other->getKey(), QStringLiteral("Other"));
        m_names.insert(writeSet(dir.path(), QStringLiteral("Top A"), 1), QStringLiteral("TopA"));
        m_names.insert(writeSet(dir.path(), QStringLiteral("Sub B"), 2), QStringLiteral("SubB"));
        QStringList shows = {QStringLiteral("ShowA"), QStringLiteral("ShowB"), QStringLiteral("ShowC")};
        for (int p = 1; p <= 3; ++p) {
            m_zun->SaveSetup(quint16(p), shows[p - 1]);
            if (!settleTransfers(m_zun.data()))
                break;
        }
        if (!waitUntil([this]() { return m_zun->GetMemoryManager()->setupCount() == 3; })) {
            *error = QStringLiteral("the setups were not stored");
            return false;
        }
        QStringList failed;
        m_zun->BackupToDir(dir.path(), &failed);
        for (int p = 1; p <= 3; ++p)
            m_names.insert(m_zun->GetMemoryManager()->setupIdAt(p), shows[p - 1]);
        m_expectedLoad = QStringList{QStringLiteral("set thru"), QStringLiteral("set TopA"), QStringLiteral("set SubB"),
                                     QStringLiteral("setup 1 ShowA"), QStringLiteral("setup 2 ShowB"),
                                     QStringLiteral("setup 3 ShowC")};
        m_expectedLoad.sort();
        say(QStringLiteral("folder: ") + dir.entryList(QDir::Files).join(QStringLiteral(", ")));
        return failed.isEmpty() && dir.entryList({QStringLiteral("*.fir")}).size() == 3;
    }

    bool erase(QString* why)
    {
        if (!m_zun->IsConnected()) {
            m_zun->connect(true);
            waitUntil([this]() { return m_zun->IsFIRManagerReady(); }, 30000);
            settleTransfers(m_zun.data());
        }
        m_answers->yes = true;
        bool erased = false;
        const QMetaObject::Connection c =
            QObject::connect(m_zun.data(), &CZun::signal_FlashMemErased, [&erased](bool) { erased = true; });
        m_actions->eraseFlashMemory();
        const bool ok = waitUntil([&]() { return erased; }, 30000);
        QObject::disconnect(c);
        // Factory state: the pass-through set stored and run.
        if (!ok || !waitUntil([this]() { return flash() == QStringList{QStringLiteral("set thru")}; }, 30000)
            || !settleFirstSet(m_zun.data())) {
            *why = QStringLiteral("the erase did not end at factory state: ") + flash().join(QStringLiteral(", "));
            return false;
        }
        waitUntil([this]() { return m_zun->GetOperations()->running().isEmpty(); }, 10000);
        return settleTransfers(m_zun.data());
    }

    bool loadAlone(QString* why)
    {
        m_ended = false;
        m_answers->folderChoice = m_folder.path();
        m_actions->onLoadConfig();
        if (!waitUntil([this]() { return m_ended; }, OperationLimitMs) || !settleTransfers(m_zun.data())
            || flash() != m_expectedLoad) {
            *why = QStringLiteral("the load alone did not store the folder: ") + flash().join(QStringLiteral(", "));
            return false;
        }
        // Some setups stored again (their old entries deleted), so that a collection has
        // something to collect.
        m_zun->SaveSetup(3, QStringLiteral("ShowC"));
        settleTransfers(m_zun.data());
        m_names.insert(m_zun->GetMemoryManager()->setupIdAt(3), QStringLiteral("ShowC"));
        m_told.clear();
        m_answers->shown.clear();
        return true;
    }

    // What the emulator's flash lists, by name, sorted.
    QStringList flash() const
    {
        const QString line = m_sim->query(QStringLiteral("flash"), QStringLiteral("flash "));
        QStringList held;
        for (const QString& e : line.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1)) {
            if (e == QLatin1String("deleted"))
                break;
            held << e;
        }
        QMap<QString, int> count;
        for (int i = 0; i + 1 < held.size(); i += 2) {
            const QString kind = held[i];
            const int slot = held[i + 1].section(QLatin1Char(':'), 0, 0).toInt();
            const quint32 id = held[i + 1].section(QLatin1Char(':'), 1, 1).toUInt(nullptr, 16);
            const QString name = m_names.value(id, QStringLiteral("?%1").arg(id, 8, 16, QLatin1Char('0')));
            ++count[kind == QLatin1String("setup") ? QStringLiteral("setup %1 %2").arg(slot).arg(name)
                                                   : QStringLiteral("%1 %2").arg(kind, name)];
        }
        QStringList named;
        for (auto it = count.cbegin(); it != count.cend(); ++it)
            named << (it.value() > 1 ? QStringLiteral("%1 x%2").arg(it.key()).arg(it.value()) : it.key());
        named.sort();
        return named;
    }

    // The second program: this tool again, in a process of its own with settings and a
    // configuration folder of its own (so it reads every set and setup), started now.
    std::unique_ptr<QProcess> secondProgram(bool store) const
    {
        auto other = std::make_unique<QProcess>();
        other->setProcessChannelMode(verbose ? QProcess::ForwardedErrorChannel : QProcess::SeparateChannels);
        QStringList args = {QStringLiteral("--second-program"), QString::number(m_sim->tcpPort())};
        if (store)
            args << QStringLiteral("--store");
        other->start(QCoreApplication::applicationFilePath(), args);
        return other;
    }
    // Its one line ("second read 0|1 stored 0|1"), once it has ended.
    static QString secondProgramLine(QProcess* other)
    {
        waitUntil([&]() { return other->state() == QProcess::NotRunning; }, 120000);
        if (other->state() != QProcess::NotRunning) {
            other->kill();
            other->waitForFinished(5000);
        }
        return QString::fromUtf8(other->readAllStandardOutput()).trimmed();
    }

public:
    // How long the second program takes from its start until its lists are read and it ends.
    qint64 secondProgramMs()
    {
        QElapsedTimer t;
        t.start();
        const std::unique_ptr<QProcess> other = secondProgram(false);
        secondProgramLine(other.get());
        return t.elapsed();
    }

private:
    // The operation started, the second program connecting at delayMs from its start (before
    // it when negative).
    void run(int row, const QString& operation, int delayMs, const std::function<void()>& start)
    {
        m_told.clear();
        m_answers->shown.clear();
        m_ended = false;
        QElapsedTimer clock;
        clock.start();
        std::unique_ptr<QProcess> other;
        if (delayMs < 0) {
            other = secondProgram(m_otherStores);
            waitUntil([&]() { return clock.elapsed() >= -delayMs; }, -delayMs + 1000);
            clock.start();
            start();
        } else {
            start();
            waitUntil([&]() { return clock.elapsed() >= delayMs; }, delayMs + 1000);
            other = secondProgram(m_otherStores);
        }
        QStringList told;
        const QString said = secondProgramLine(other.get());
        QStringList expected = m_expectedLoad;
        if (!said.contains(QStringLiteral("read 1")))
            told << QStringLiteral("(the second program's lists were not read)");
        if (m_otherStores) {
            if (said.contains(QStringLiteral("stored 1")))
                expected << QStringLiteral("set Other");
            else
                told << QStringLiteral("(the second program's set was not stored)");
            expected.sort();
        }
        const bool ended = waitUntil([this]() { return m_ended; }, OperationLimitMs);
        // A link the operation lost is connected again, as the operator would: a collection's
        // restore goes on then.
        if (!m_zun->IsConnected()) {
            m_zun->connect(true);
            waitUntil([this]() { return m_zun->IsFIRManagerReady(); }, 30000);
            told << QStringLiteral("(connected again)");
        }
        settleTransfers(m_zun.data());
        // What a restore or a resend still does after the report is part of the row.
        waitUntil([this]() { return m_zun->GetGarbageCollectionFolder().isEmpty()
                                 || !QDir(m_zun->GetGarbageCollectionFolder()).exists(); }, 30000);
        settleTransfers(m_zun.data());
        const QStringList held = flash();
        told = m_told + told;
        for (const QString& s : qAsConst(m_answers->shown))
            told << QStringLiteral("box: ") + s.simplified();
        if (!ended)
            told << QStringLiteral("(no end within %1 s)").arg(OperationLimitMs / 1000);
        line(row, operation, delayMs, held.join(QStringLiteral(", ")), told.join(QStringLiteral(" | ")),
             held == expected);
    }

    void line(int row, const QString& operation, int atMs, const QString& held, const QString& told, bool right)
    {
        QTextStream(stdout) << row << "\t" << operation << "\t" << QString::number(atMs / 1000.0, 'f', 1) << " s\t"
                            << (right ? "right" : "WRONG") << "\t" << held << "\t" << told << Qt::endl;
    }

    std::unique_ptr<TcpSimProcess> m_sim;
    QSharedPointer<CZun> m_zun;
    std::unique_ptr<QWidget> m_tab;
    ZunMaintenanceActions* m_actions = nullptr;
    PromptAnswers* m_answers = nullptr;
    QTemporaryDir m_folder;
    QMap<quint32, QString> m_names;
    QStringList m_expectedLoad;
    QStringList m_told;
    bool m_ended = false;
    bool m_otherStores = false;
};
} // namespace

// The second program's process: connects to the emulator's port, reads the processor's
// lists, stores a FIR set of its own when asked, and says so in one line.
int secondProgramMain(int argc, char** argv, quint16 port, bool store)
{
    const DeviceTestRig::Config config;
    QApplication app(argc, argv);
    if (!verbose)
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    auto other = QSharedPointer<CZun>::create(record(1080, Serial, 0, TwoBoards), map(1080), QSharedPointer<CRoutingLibrary>());
    other->SetPort(port);
    other->connect(true);
    auto done = [&]() {
        return other->GetMemoryManager()->isValid() && other->IsFIRManagerReady() && transfersIdle(other.data());
    };
    const bool read = waitUntil(done, 60000) && settleTransfers(other.data());
    bool stored = false;
    if (store && read) {
        const QShPtrFLE set = other->GetFIRLimManager()->CreateThruFIRFilter(other->GetSampleRate(), 0);
        set->setAmpGain(6.0, 0);
        set->computeKey();
        other->UploadFIRFilter(set, 0);
        stored = waitUntil([&]() { return other->GetMemoryManager()->hasFilterId(set->getKey()) && done(); }, 60000);
    }
    QTextStream(stdout) << "second read " << (read ? 1 : 0) << " stored " << (stored ? 1 : 0) << Qt::endl;
    other->disconnect();
    return 0;
}

int main(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "--second-program") == 0) {
            verbose = false;
            bool store = false;
            for (int j = 1; j < argc; ++j)
                store = store || qstrcmp(argv[j], "--store") == 0;
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return secondProgramMain(argc, argv, quint16(atoi(argv[i + 1])), store);
        }
    zunToolName(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("ZUNSIM"))
        qputenv("ZUNSIM", ZUNSIM_PATH);
    const DeviceTestRig::Config config;
    QApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Configuration loads and garbage collections of an emulated processor on loopback while a second program "
        "connects to it at moments spread over each operation: what the flash held after each and what the "
        "operator was told, one row each."));
    p.addHelpOption();
    p.addOptions({{"loads", "Configuration loads (default 10).", "n", "10"},
                  {"collections", "Garbage collections (default 4).", "n", "4"},
                  {"delay", "Milliseconds the emulator waits before each answer (default 10).", "ms", "10"},
                  {"verbose", "The program's warnings and the tool's steps on the error output."}});
    p.process(app);
    verbose = p.isSet(QStringLiteral("verbose"));
    if (!verbose)
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const int loads = qMax(0, p.value(QStringLiteral("loads")).toInt());
    const int collections = qMax(0, p.value(QStringLiteral("collections")).toInt());

    Walk walk;
    QString error;
    if (!walk.start(qMax(0, p.value(QStringLiteral("delay")).toInt()), &error)) {
        QTextStream(stderr) << "zunsharewalk: " << error << Qt::endl;
        return 1;
    }
    // The moments spread from the second program's connection ending its reads as the
    // operation starts to its connection as the operation ends.
    const qint64 alone = walk.loadMs(), collection = walk.collectionMs(), other = walk.secondProgramMs();
    QTextStream out(stdout);
    out << "zunsharewalk: alone, a load takes " << alone << " ms, a collection " << collection
        << " ms, the second program's connection until its lists are read " << other
        << " ms; two-board processor emulated on loopback\n"
        << "row\toperation\tsecond program at (s from the operation's start)\tflash\tflash held\toperator told"
        << Qt::endl;
    auto moment = [other](qint64 span, int i, int n) {
        return int(-other + (other + span) * i / qMax(1, n - 1));
    };
    int row = 0;
    for (int i = 0; i < loads; ++i)
        walk.load(row++, moment(alone, i, loads));
    for (int i = 0; i < collections; ++i)
        walk.collect(row++, moment(collection, i, collections), i % 2 == 1);
    out << "right: the flash holds the folder's sets and setups (and the second program's set where it stored one), each "
           "once at its position, and nothing else"
        << Qt::endl;
    return 0;
}
