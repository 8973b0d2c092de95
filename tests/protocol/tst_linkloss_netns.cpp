// A processor that stops answering, or whose cable is pulled, while the link waits for it
// with the keep-alive off: every command comes back once, the failure is reported within
// the reply deadline, and the link works again once the processor does. The emulator is a
// host of a private network (ZunNetnsRig.h); needs root, skips otherwise.
#include "CCmdMap.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunNetnsRig.h"
#include "ZunProtocolMetaTypes.h"

#include <QTemporaryFile>
#include <QtTest>

namespace
{
constexpr quint16 Serial = 0x0501;
// The reply deadline, and what the test allows on top for the drop to come back.
constexpr int Within = ZunCmdBuffer::DefaultDeadlineMs + 3000;
} // namespace

class TstLinkLossNetns : public QObject
{
    Q_OBJECT

    ZunNetnsRig m_rig;
    QSharedPointer<CCmdMap> m_map;
    std::unique_ptr<ZunBaseComm> m_link;
    QList<CZunCmd> m_cmds;
    QStringList m_errors;
    int m_received = 0; // reads of the socket: acknowledgements arrive one per read

    quint16 nr(const char* name) const { return m_map->getCmdNr(name); }

    bool connectLink()
    {
        QMetaObject::invokeMethod(m_link.get(), "connectZun", Qt::BlockingQueuedConnection);
        return QTest::qWaitFor([this] { return m_link->isConnected(); }, 15000);
    }

    // The processor's close time 0, as the device object sets it for a long operation.
    void keepAliveOff()
    {
        m_link->sendCmd(nr("Cmd_TCPCloseTime"), 0);
        QVERIFY(QTest::qWaitFor([this] { return !m_cmds.isEmpty(); }, 5000));
        QVERIFY(m_cmds.takeFirst().isDone());
    }

    // After the fault: `expected` commands back, each once, within the deadline; the one
    // that was on the wire timed out and none after it was done; the failure reported.
    void checkAllBack(int expected, const QElapsedTimer& since, int within = Within)
    {
        // The failure is reported from the link's thread after the commands come back.
        QVERIFY2(QTest::qWaitFor([&] { return m_cmds.size() >= expected && !m_link->isConnected() && !m_errors.isEmpty(); },
                                 within),
                 qPrintable(QStringLiteral("%1 of %2 commands back, %3 failures reported")
                                .arg(m_cmds.size())
                                .arg(expected)
                                .arg(m_errors.size())));
        QVERIFY(since.elapsed() < within);
        QCOMPARE(m_cmds.size(), expected);
        int timedOut = 0;
        for (const CZunCmd& c : qAsConst(m_cmds)) {
            QVERIFY(c.isFinished());
            if (c.isTimedOut()) {
                ++timedOut;
                if (c.getCmd() == 0xFF00)
                    QVERIFY2(c.bytesSent() < quint32(c.getPayload().size()) && c.bytesSent() % 4096 == 0,
                             qPrintable(QString::number(c.bytesSent())));
            }
        }
        QVERIFY(m_cmds.last().gotNoReply());
        QVERIFY(timedOut <= 1); // the kernel may have noticed first
    }

    // The processor is back: the link connects again and a command is answered.
    void checkWorksAgain()
    {
        m_cmds.clear();
        QVERIFY(connectLink());
        m_link->sendCmd(nr("Cmd_MemID0"), 3);
        QVERIFY(QTest::qWaitFor([this] { return !m_cmds.isEmpty(); }, 5000));
        QVERIFY(m_cmds.first().isDone());
        QCOMPARE(m_cmds.first().replyWord(), quint16(3));
    }

    // Waits until the processor has acknowledged a few chunks of the block in progress.
    bool midBlock()
    {
        const int from = m_received;
        return QTest::qWaitFor([&] { return m_received >= from + 6; }, 10000);
    }

private slots:
    void initTestCase()
    {
        if (!ZunNetnsRig::privateNetnsReady())
            QSKIP(qPrintable(ZunNetnsRig::notReadyReason()));
        registerProtocolMetaTypes();
        m_map = QSharedPointer<CCmdMap>::create();
        m_map->setVersion(1080);
        QString why;
        QVERIFY2(m_rig.setUp(&why), qPrintable(why));
        QVERIFY2(m_rig.startSim(Serial, {"--firmware", "1080"}, &why), qPrintable(why));
    }

    void init()
    {
        m_cmds.clear();
        m_errors.clear();
        m_link = std::make_unique<ZunBaseComm>(m_rig.sim(Serial)->address, Serial, 1080, m_map);
        connect(m_link.get(), &ZunBaseComm::signal_CmdProcessed, this, [this](CZunCmd c) { m_cmds << c; });
        connect(m_link.get(), &ZunBaseComm::signal_NetworkError, this, [this](QString t) { m_errors << t; });
        connect(m_link.get(), &ZunBaseComm::signal_TcpDataReceived, this, [this] { ++m_received; });
        bool created = false;
        connect(m_link.get(), &ZunBaseComm::signal_SocketCreated, this, [&created] { created = true; });
        m_link->start();
        QVERIFY(QTest::qWaitFor([&] { return created; }, 10000));
        QVERIFY(connectLink());
        // Slow enough that a fault lands in the middle of a transfer.
        QVERIFY(m_rig.control(Serial, QStringLiteral("delay 5")));
    }

    void cleanup()
    {
        m_link.reset();
        QString why;
        m_rig.setCable(Serial, true, &why);
        m_rig.control(Serial, QStringLiteral("silent off"));
    }

    void silentProcessorMidBlock()
    {
        keepAliveOff();
        CZunMetaCmd group(0xFF00, 0, QByteArray(1024 * 1024, 'q'));
        group.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyRxTxBuf2DSPVar"));
        m_link->sendMetaCmd(group);
        m_link->sendCmd(nr("Cmd_MemID0"), 1); // waits behind the group
        QVERIFY(midBlock());
        QVERIFY(m_rig.control(Serial, QStringLiteral("silent")));
        QElapsedTimer t;
        t.start();
        checkAllBack(3, t);
        QVERIFY(m_cmds[0].isTimedOut() && !m_cmds[0].isDone());
        QVERIFY(m_cmds[0].bytesSent() > 0);
        QVERIFY(m_cmds[1].isNotSent() && m_cmds[2].isNotSent());
        QVERIFY(m_rig.control(Serial, QStringLiteral("silent off")));
        checkWorksAgain();
    }

    void cablePulledMidBlock()
    {
        keepAliveOff();
        m_link->sendMetaCmd(CZunMetaCmd(0xFF00, 0, QByteArray(1024 * 1024, 'c')));
        QVERIFY(midBlock());
        QString why;
        QVERIFY2(m_rig.setCable(Serial, false, &why), qPrintable(why));
        QElapsedTimer t;
        t.start();
        checkAllBack(1, t);
        QVERIFY(!m_cmds[0].isDone());
        QVERIFY2(m_rig.setCable(Serial, true, &why), qPrintable(why));
        checkWorksAgain();
    }

    void cablePulledMidFirmwareUpdate()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(QByteArray(100 * 1024, '\x5A'));
        file.close();
        m_link->uploadFirmware(file.fileName());
        // Close time, erase, 7 pieces of a block and a copy each, the check.
        const int group = 1 + 1 + 7 * 2 + 1;
        QVERIFY(QTest::qWaitFor([this] { return m_cmds.size() >= 2; }, 10000)); // erased
        QVERIFY(midBlock());
        QString why;
        QVERIFY2(m_rig.setCable(Serial, false, &why), qPrintable(why));
        QElapsedTimer t;
        t.start();
        // A copy into the flash may be on the wire: its deadline is the longer one.
        checkAllBack(group, t, ZunBaseComm::FlashDeadlineMs + 3000);
        QVERIFY(m_cmds[1].isDone());
        QCOMPARE(m_cmds.last().getCmd(), nr("Cmd_CheckFirmware"));
        QVERIFY2(m_rig.setCable(Serial, true, &why), qPrintable(why));
        checkWorksAgain();
    }
};

ZUN_NETNS_TEST_MAIN(TstLinkLossNetns)
#include "tst_linkloss_netns.moc"
