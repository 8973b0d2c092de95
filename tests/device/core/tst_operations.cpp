// The list of a processor's long operations: what each took comes back with its end, the
// keep-alive only when its last holder ends, the loss report kept only over a lost link.
#include "ZunOperations.h"

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
