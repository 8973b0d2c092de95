// The list of a processor's long operations: what each took comes back with its end, the
// keep-alive only when its last holder ends, the loss report kept only over a lost link.
#include "ZunOperations.h"

#include <QFile>
#include <QTemporaryDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TestOperations : public QObject
{
    Q_OBJECT

    bool m_connected = true;
    int m_keepAliveBack = 0;
    std::unique_ptr<ZunOperations> m_list;

private slots:
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
        QTest::newRow("done") << false << int(ZunOperation::Outcome::Done) << false;
        QTest::newRow("refused") << false << int(ZunOperation::Outcome::Refused) << false;
        QTest::newRow("dropped by a window that closed without a question") << false << int(ZunOperation::Outcome::Quit) << false;
        QTest::newRow("stopped, then cut by the link") << true << int(ZunOperation::Outcome::LinkLost) << true;
        QTest::newRow("stopped, yet done") << true << int(ZunOperation::Outcome::Done) << false;
        QTest::newRow("killed") << false << -1 << true;
        QTest::newRow("stopped, then the program quits with it") << true << -1 << true;
    }
    void theRecordKeepsWhatDidNotEnd()
    {
        QFETCH(bool, stopped);
        QFETCH(int, outcome);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("42") + ZunOperationJournal::Suffix);
        m_list->journal()->setFile(file);
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
            step->finish(ZunOperation::Outcome::Done);
        } else {
            QFile back(file);
            QVERIFY(back.open(QIODevice::WriteOnly) && back.write(running) == running.size());
        }
        QCOMPARE(QFileInfo::exists(file), kept);
        QCOMPARE(ZunOperationJournal::unfinishedIn(dir.path()).size(), kept ? 1 : 0);
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

QTEST_MAIN(TestOperations)
#include "tst_operations.moc"
