// The list of a processor's long operations: what each took comes back with its end, the
// keep-alive only when its last holder ends, the loss report kept only over a lost link.
#include "ZunDiskFlushProbe.h"
#include "ZunOperations.h"
#include "ZunSmallDisk.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cstdio>

namespace {
QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Run as another program (ZUN_TEST_RECORD or ZUN_TEST_START set): the first of two, which
// begins a configuration load on the record named, says so, and runs until it is killed;
// or a later one's start, which prints what it names in the folder named.
int otherProgram(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    ZunOperations list([]() { return true; }, []() {});
    if (qEnvironmentVariableIsSet("ZUN_TEST_START")) {
        std::puts(qPrintable(ZunOperationJournal::unfinishedIn(qEnvironmentVariable("ZUN_TEST_START")).join('\n')));
        return 0;
    }
    list.journal()->setFile(qEnvironmentVariable("ZUN_TEST_RECORD"));
    const QSharedPointer<ZunOperation> load = list.begin(ZunLongOperation::ConfigLoad, 0);
    list.note(ZunLongOperation::ConfigLoad, QStringLiteral("folder"), QStringLiteral("/show"));
    std::puts("running");
    std::fflush(stdout);
    return std::getchar();
}

void startOther(QProcess* program, const QString& variable, const QString& value)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(variable, value);
    program->setProcessEnvironment(environment);
    program->start(QCoreApplication::applicationFilePath(), QStringList());
}
} // namespace

class TestOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    bool m_connected = true;
    int m_keepAliveBack = 0;
    std::unique_ptr<ZunOperations> m_list;

private slots:
    void initTestCase()
    {
        // What the record keeps in the settings goes to a settings folder of the test's own.
        qputenv("HOME", m_home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
    }

    void init()
    {
        m_connected = true;
        m_keepAliveBack = 0;
        m_list = std::make_unique<ZunOperations>([this]() { return m_connected; }, [this]() { ++m_keepAliveBack; });
    }

    // Two holders: the keep-alive comes back once, when the second ends (here dropped, as
    // when its window closes); an end reached twice gives back nothing twice.
    void keepAliveComesBackWithTheLastHolder()
    {
        auto erase = m_list->begin(ZunLongOperation::Erase, ZunOperation::KeepAlive);
        auto firmware = m_list->begin(ZunLongOperation::Firmware, ZunOperation::KeepAlive | ZunOperation::LossReport);
        erase->finish(ZunOperation::Outcome::Done);
        erase->finish(ZunOperation::Outcome::Done);
        QCOMPARE(m_keepAliveBack, 0);
        QVERIFY(m_list->holdsKeepAlive());
        firmware.reset();
        QCOMPARE(m_keepAliveBack, 1);
        QVERIFY(!m_list->holdsKeepAlive() && !m_list->reportsLinkLoss());
    }

    // The link's own message for a loss that cut an operation may come after the
    // operation's: the report stays taken until the next connection, and only then.
    void lossReportStaysOnlyOverALostLink_data()
    {
        QTest::addColumn<bool>("connected"); // when the operation ends
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("kept");      // after its end, until the next connection
        QTest::newRow("done") << true << int(ZunOperation::Outcome::Done) << false;
        QTest::newRow("refused") << true << int(ZunOperation::Outcome::Refused) << false;
        QTest::newRow("no answer over a link still up") << true << int(ZunOperation::Outcome::TimedOut) << false;
        QTest::newRow("cut by the link") << false << int(ZunOperation::Outcome::LinkLost) << true;
        QTest::newRow("quit") << false << int(ZunOperation::Outcome::Quit) << false;
    }
    void lossReportStaysOnlyOverALostLink()
    {
        QFETCH(bool, connected);
        QFETCH(int, outcome);
        QFETCH(bool, kept);
        auto collection = m_list->begin(ZunLongOperation::GarbageCollection, ZunOperation::LossReport);
        QVERIFY(m_list->reportsLinkLoss());
        m_connected = connected;
        collection->finish(ZunOperation::Outcome(outcome));
        QCOMPARE(m_list->reportsLinkLoss(), kept);
        m_connected = true;
        m_list->onConnected();
        QVERIFY(!m_list->reportsLinkLoss());
    }

    // The record on disk keeps an operation only until its end; one the operator stopped
    // (its window closed anyway) stays, unless it still ends done; one still running when
    // the program ends (a kill runs none of its ends) stays, and the next program finds it.
    void theRecordKeepsWhatDidNotEnd_data()
    {
        QTest::addColumn<bool>("stopped"); // the operator closed its window anyway
        QTest::addColumn<int>("outcome");  // -1: none, the program ends (a kill)
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("twice"); // begun by its window and by the device: one operation
        QTest::newRow("done") << false << int(ZunOperation::Outcome::Done) << false << false;
        QTest::newRow("refused") << false << int(ZunOperation::Outcome::Refused) << false << false;
        QTest::newRow("dropped by a window that closed without a question") << false << int(ZunOperation::Outcome::Quit) << false << false;
        QTest::newRow("stopped, then cut by the link") << true << int(ZunOperation::Outcome::LinkLost) << true << false;
        QTest::newRow("stopped, yet done") << true << int(ZunOperation::Outcome::Done) << false << false;
        QTest::newRow("killed") << false << -1 << true << false;
        QTest::newRow("stopped, then the program quits with it") << true << -1 << true << false;
        // Mended: a firmware update or one press of Erase All wrote two entries.
        QTest::newRow("killed, begun twice") << false << -1 << true << true;
        QTest::newRow("stopped, then cut by the link, begun twice") << true << int(ZunOperation::Outcome::LinkLost) << true << true;
        QTest::newRow("done, begun twice") << false << int(ZunOperation::Outcome::Done) << false << true;
    }
    void theRecordKeepsWhatDidNotEnd()
    {
        QFETCH(bool, stopped);
        QFETCH(int, outcome);
        QFETCH(bool, kept);
        QFETCH(bool, twice);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("42") + ZunOperationJournal::Suffix);
        m_list->journal()->setFile(file);
        auto window = twice ? m_list->begin(ZunLongOperation::ConfigLoad, 0) : QSharedPointer<ZunOperation>();
        auto load = m_list->begin(ZunLongOperation::ConfigLoad, 0);
        m_list->note(ZunLongOperation::ConfigLoad, QStringLiteral("folder"), dir.path());
        auto step = m_list->begin(ZunLongOperation::Erase, ZunOperation::Unlisted); // a step: never on record
        if (stopped)
            m_list->markStopped();
        QFile copy(file);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        const QByteArray running = copy.readAll(); // what a kill leaves
        copy.close();
        if (outcome >= 0) {
            load->finish(ZunOperation::Outcome(outcome));
            if (window)
                window->finish(ZunOperation::Outcome(outcome));
            step->finish(ZunOperation::Outcome::Done);
        } else {
            m_list.reset(); // the program has ended, with its record as the kill left it
            QVERIFY(writeFile(file, running));
        }
        QCOMPARE(QFileInfo::exists(file), kept);
        // A start beside this program names only what a program that has ended left.
        QCOMPARE(ZunOperationJournal::unfinishedIn(dir.path()).size(), kept && outcome < 0 ? 1 : 0);
        ZunOperationJournal next; // the next program, or the next connection of this one
        next.setFile(file);
        const QList<ZunOperationJournal::Entry> left = outcome >= 0 ? m_list->journal()->takeLeftOver() : next.takeLeftOver();
        QCOMPARE(left.size(), kept ? 1 : 0);
        if (kept) {
            QCOMPARE(left[0].kind, ZunLongOperation::ConfigLoad);
            QCOMPARE(left[0].detail.value("folder").toString(), dir.path());
            QCOMPARE(left[0].stopped, stopped);
        }
    }

    // A record read back is a file like any other: a tampered one names a few operations
    // with plain values, each once, not thousands of lines or a megabyte-long path.
    void aTamperedRecordIsReadWithinItsBounds()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("42") + ZunOperationJournal::Suffix);
        QJsonArray list;
        for (int i = 0; i < 100; ++i)
            list.append(QJsonObject {{"kind", "config-load"},
                                     {"detail", QJsonObject {{"folder", QStringLiteral("/f%1").arg(i % 40)},
                                                             {"file", QString(5000, 'x')},
                                                             {"set", QJsonArray {1, 2}}}}});
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QJsonDocument(QJsonObject {{"operations", list}}).toJson(QJsonDocument::Compact));
        out.close();
        ZunOperationJournal journal;
        journal.setFile(file);
        const QList<ZunOperationJournal::Entry> left = journal.takeLeftOver();
        QCOMPARE(left.size(), 32);
        for (const ZunOperationJournal::Entry& e : left)
            QCOMPARE(e.detail.keys(), QStringList {"folder"});
    }

    // Mended: a second program with the same configuration folder, connecting while the
    // first ran a load, named the load as killed and deleted the record, so that a later
    // kill of the first went unnamed. Only the record of a program that has ended is named
    // and removed; the second keeps the first's entry when it writes its own.
    void aRunningProgramsRecordIsLeftToIt()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("42") + ZunOperationJournal::Suffix);
        QProcess first;
        startOther(&first, QStringLiteral("ZUN_TEST_RECORD"), file);
        QVERIFY(first.waitForReadyRead(30000));

        QCOMPARE(ZunOperationJournal::unfinishedIn(dir.path()), QStringList());
        m_list->journal()->setFile(file);
        QVERIFY(m_list->journal()->takeLeftOver().isEmpty());
        m_list->begin(ZunLongOperation::Erase, 0)->finish(ZunOperation::Outcome::Done);
        QVERIFY(contentOf(file).contains("config-load"));

        first.kill();
        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(ZunOperationJournal::unfinishedIn(dir.path()), QStringList("Zun 42: a configuration load."));
        m_list->journal()->setFile(file); // the second program's next connection
        const QList<ZunOperationJournal::Entry> left = m_list->journal()->takeLeftOver();
        QCOMPARE(left.size(), 1);
        QVERIFY(ZunOperationJournal::describe(left[0]).startsWith("A configuration load from /show")
                && ZunOperationJournal::describe(left[0]).contains("did not end"));
        QVERIFY(!QFileInfo::exists(file));
    }

    // Mended: a record that could not be read was deleted without a word; one that could
    // not be removed (a read-only folder) was named at every start and connection; a full
    // disk left a scratch file; the fixed scratch name, a link, had its target overwritten;
    // a scratch file a kill left stayed.
    // Each is said once, at a start or a connection, not again to a program started later,
    // and leaves nothing behind; nothing of it waits on the disk in the caller's thread.
    void aRecordThatCanNotBeUsedIsSaidOnce_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("disk"); // "", "read-only", "full"
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("runs"); // programs that start and connect, one after another
        const QByteArray load = R"({"operations":[{"kind":"config-load","detail":{"folder":"/show"}}]})";
        QTest::newRow("truncated") << load.left(30) << "" << "could not be read (" << 2;
        QTest::newRow("not JSON") << QByteArray("operations: config-load") << "" << "could not be read (" << 2;
        QTest::newRow("over 1 MB") << load + QByteArray(ZunOperationJournal::MaxBytes, ' ') << ""
                                   << "could not be read (larger than any record)" << 2;
        QTest::newRow("read-only folder") << load << "read-only" << "could not be changed (" << 3;
        QTest::newRow("full disk") << QByteArray() << "full" << "could not be written (" << 1;
        QTest::newRow("scratch files left") << QByteArray() << "" << "" << 2; // one of them a link
    }
    void aRecordThatCanNotBeUsedIsSaidOnce()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, disk);
        QFETCH(QString, said);
        QFETCH(int, runs);
        QTemporaryDir base, outside;
        std::unique_ptr<ZunSmallDisk> small;
        if (!disk.isEmpty()) {
            small = std::make_unique<ZunSmallDisk>(base.path(), 1);
            if (!small->ok())
                QSKIP("A disk of the test's own needs root.");
        }
        const QString file = base.filePath(QStringLiteral("42") + ZunOperationJournal::Suffix);
        const QString target = outside.filePath(QStringLiteral("notes.txt"));
        QVERIFY(writeFile(target, "keep"));
        if (QTest::currentDataTag() == QByteArray("scratch files left")) {
            QFile stale(file + QStringLiteral(".Ab12Cd")); // between a write and its rename
            QVERIFY(QFile::link(target, file + QStringLiteral(".part")) && stale.open(QIODevice::WriteOnly)
                    && stale.setFileTime(QDateTime::currentDateTime().addSecs(-120), QFileDevice::FileModificationTime));
        }
        QVERIFY(record.isEmpty() || writeFile(file, record));
        QVERIFY(disk != QLatin1String("read-only") || small->makeReadOnly());
        QVERIFY(disk != QLatin1String("full") || small->fill());

        const int flushes = ZunDiskFlushProbe::guiFlushes();
        QStringList told; // at each start, then at its connection
        for (int run = 0; run < runs; ++run) {
            told << ZunOperationJournal::unfinishedIn(base.path());
            ZunOperations list([]() { return true; }, []() {});
            list.journal()->setFile(file);
            for (const ZunOperationJournal::Entry& e : list.journal()->takeLeftOver())
                told << ZunOperationJournal::describe(e);
            list.begin(ZunLongOperation::Erase, 0)->finish(ZunOperation::Outcome::Done);
            list.begin(ZunLongOperation::Restore, 0)->finish(ZunOperation::Outcome::Done);
            told << list.journal()->takeNotices();
        }
        // A program started later (what was said once is kept in the settings, written off
        // the GUI thread).
        QThreadPool::globalInstance()->waitForDone();
        QProcess later;
        startOther(&later, QStringLiteral("ZUN_TEST_START"), base.path());
        QVERIFY(later.waitForFinished(30000));
        told << QString::fromLocal8Bit(later.readAllStandardOutput()).trimmed();
        told.removeAll(QString());
        QCOMPARE(ZunDiskFlushProbe::guiFlushes() - flushes, 0);
        QCOMPARE(told.filter(said).size(), said.isEmpty() ? told.size() : 1);
        if (disk == QLatin1String("read-only"))
            QCOMPARE(told.size(), 3); // the start, the load and the notice of the first run
        else
            QCOMPARE(told.size(), said.isEmpty() ? 0 : 1);
        QCOMPARE(contentOf(target), QByteArray("keep"));
        // Nothing is left beside a record of a folder that can be changed, but what could
        // not be read, kept aside where it was said to be.
        const QStringList left = QDir(base.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        if (said.startsWith(QLatin1String("could not be read"))) {
            QCOMPARE(left.size(), 1);
            QVERIFY2(told.first().contains(base.filePath(left.first())), qPrintable(told.first()));
            QCOMPARE(contentOf(base.filePath(left.first())), record);
        } else if (disk != QLatin1String("read-only")) {
            QCOMPARE(left, disk.isEmpty() ? QStringList() : QStringList(".filler"));
        }
    }

    // Each kind named once, in the order begun; a step of another operation is not named;
    // a lost link ends those whose answers no longer come; a closed list holds nothing.
    void theListNamesEachRunningOperationOnce()
    {
        auto firmware = m_list->begin(ZunLongOperation::Firmware, 0);
        auto erase = m_list->begin(ZunLongOperation::Erase, ZunOperation::Unlisted | ZunOperation::EndsWithLink);
        auto load = m_list->begin(ZunLongOperation::ConfigLoad, ZunOperation::EndsWithLink | ZunOperation::KeepAlive);
        auto again = m_list->begin(ZunLongOperation::Firmware, 0);
        QCOMPARE(m_list->running(), (QList<ZunLongOperation>{ZunLongOperation::Firmware, ZunLongOperation::ConfigLoad}));
        m_connected = false;
        m_list->onDisconnected();
        QVERIFY(!erase->isRunning() && !load->isRunning() && firmware->isRunning());
        QCOMPARE(m_keepAliveBack, 1);
        QCOMPARE(m_list->runningTexts(), QStringList{zunLongOperationText(ZunLongOperation::Firmware)});
        m_list->close();
        QVERIFY(m_list->running().isEmpty() && !firmware->isRunning());
        m_list.reset();
        again->finish(ZunOperation::Outcome::Done); // after its list: nothing to give back to
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("ZUN_TEST_RECORD") || qEnvironmentVariableIsSet("ZUN_TEST_START"))
        return otherProgram(argc, argv);
    // Before any thread: the small disk's mount is the process's own.
    ZunSmallDisk::enterPrivateMounts();
    QCoreApplication app(argc, argv);
    TestOperations tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_operations.moc"
