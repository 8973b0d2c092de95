// The link against the emulator on loopback: replies, refusals, block transfers, faults,
// a stream cut at random points, the keep-alive close and the link thread's life.
#include "CCmdMap.h"
#include "support/FragmentingProxy.h"
#include "TcpSimProcess.h"
#include "ZunBaseComm.h"
#include "ZunProtocolMetaTypes.h"

#include <QRandomGenerator>
#include <QtTest>

#include <functional>
#include <memory>

class Collector : public QObject
{
    Q_OBJECT
public:
    QList<CZunCmd> cmds;
    int networkErrors = 0;
public slots:
    void on_Cmd(CZunCmd cmd) { cmds << cmd; }
    void on_NetworkError(QString) { ++networkErrors; }
};

class TestLinkTcp : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TcpSimProcess> m_sim;
    std::unique_ptr<ZunBaseComm> m_link;
    std::unique_ptr<Collector> m_col;
    QSharedPointer<CCmdMap> m_map;

    quint16 nr(const char* name) { return m_map->getCmdNr(name); }

    bool startLink(quint16 port)
    {
        m_link.reset(new ZunBaseComm(QHostAddress(QHostAddress::LocalHost), 7, 0x1438, m_map));
        m_link->setPort(port);
        m_col.reset(new Collector);
        connect(m_link.get(), &ZunBaseComm::signal_CmdProcessed, m_col.get(), &Collector::on_Cmd);
        connect(m_link.get(), &ZunBaseComm::signal_NetworkError, m_col.get(), &Collector::on_NetworkError);
        bool created = false;
        connect(m_link.get(), &ZunBaseComm::signal_SocketCreated, m_col.get(), [&created]() { created = true; });
        m_link->start();
        if (!waitUntil([&]() { return created; }, 10000))
            return false;
        return connectLink();
    }
    bool connectLink()
    {
        QMetaObject::invokeMethod(m_link.get(), "connectZun", Qt::BlockingQueuedConnection);
        return waitUntil([this]() { return m_link->isConnected(); }, 10000);
    }
    // Runs the event loop without pauses (the proxy moves one piece per pass).
    static bool waitUntil(const std::function<bool()>& done, int timeoutMs)
    {
        QEventLoop loop;
        QTimer poll, limit;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&]() { if (done()) loop.quit(); });
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        poll.start(1);
        limit.start(timeoutMs);
        if (!done())
            loop.exec();
        return done();
    }
    bool waitCmds(int n) { return waitUntil([&]() { return m_col->cmds.size() >= n; }, 30000); }
    QByteArray randomBytes(int n, quint32 seed)
    {
        QRandomGenerator g(seed);
        QByteArray b(n, '\0');
        for (char& c : b)
            c = char(g.bounded(256));
        return b;
    }

private slots:
    void initTestCase()
    {
        registerProtocolMetaTypes();
        m_map = QSharedPointer<CCmdMap>::create();
        m_map->setVersion(1080);
    }

    void init()
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "7", "--firmware", "1080", "--revision", "1"}), qPrintable(m_sim->error()));
        QVERIFY(startLink(m_sim->tcpPort()));
    }

    void cleanup()
    {
        m_link.reset(); // still connected: the destructor ends the thread and closes the socket
        m_sim.reset();
    }

    void commandIsAnsweredAndCompletes()
    {
        QCOMPARE(m_link->sendCmd(nr("Cmd_MemID0"), 5), 0);
        QCOMPARE(m_link->sendCmd(0xFF0A, 0), 0);
        QCOMPARE(m_link->sendCmd(0xFF0B, nr("Cmd_MemID0")), 0);
        QVERIFY(waitCmds(3));
        const CZunCmd& set = m_col->cmds[0];
        QVERIFY(set.isDone() && !set.isError() && !set.isNotSent());
        QCOMPARE(set.getCmd(), nr("Cmd_MemID0"));
        QCOMPARE(set.replyWord(), quint16(5));
        QCOMPARE(m_col->cmds[1].replyWord(), quint16(0x1438)); // firmware 1080, revision 1
        // The parameter read comes back as the parameter with its word.
        QCOMPARE(m_col->cmds[2].getCmd(), nr("Cmd_MemID0"));
        QCOMPARE(m_col->cmds[2].getValue(), quint16(5));
    }

    void refusedCommandSetsErrorFlag()
    {
        m_link->sendCmd(1800, 1);
        QVERIFY(m_sim->control("refuse 34"));
        m_link->sendCmd(34, 2);
        QVERIFY(waitCmds(2));
        QVERIFY(m_sim->control("refuse off"));
        m_link->sendCmd(0xFF0B, 34);
        QVERIFY(waitCmds(3));
        QVERIFY(m_col->cmds[0].isError() && m_col->cmds[0].isDone());
        QCOMPARE(m_col->cmds[0].replyWord(), nr("Msg_ErrUnknownCmd"));
        QVERIFY(m_col->cmds[1].isError());
        QCOMPARE(m_col->cmds[1].replyWord(), nr("Msg_ErrBusy"));
        QCOMPARE(m_col->cmds[2].getValue(), quint16(0)); // the refused value was not stored
    }

    void slowRepliesKeepTheirOrder()
    {
        QVERIFY(m_sim->control("delay 200"));
        m_link->sendCmd(34, 4);
        m_link->sendMetaCmd(CZunMetaCmd(0xFF00, 3, "abc"));
        m_link->sendCmd(0xFF0B, 34);
        QVERIFY(waitCmds(3));
        QCOMPARE(m_col->cmds[0].replyWord(), quint16(4));
        QVERIFY(m_col->cmds[1].isDone());
        QCOMPARE(m_col->cmds[2].getCmd(), quint16(34));
        QCOMPARE(m_col->cmds[2].getValue(), quint16(4));
    }

    void blockWriteOf100KiBArrivesIntact()
    {
        const QByteArray data = randomBytes(100 * 1024, 3);
        CZunMetaCmd g(0xFF00, quint16(data.size()), data);
        g.appendCmd(0xFF04, nr("ID_Block_Flash"));
        QCOMPARE(m_link->sendMetaCmd(g), 0);
        QVERIFY(waitCmds(2));
        QVERIFY(m_col->cmds[0].isDone() && !m_col->cmds[0].isError());
        QCOMPARE(m_col->cmds[0].bytesSent(), quint32(data.size()));
        QVERIFY(m_col->cmds[1].isDone());
        QCOMPARE(m_col->cmds[1].getReply(), data);

        // The parameter image as the device object reads it.
        m_link->sendCmd(nr("Cmd_MemID0"), 9);
        CZunMetaCmd image(nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf"));
        image.appendCmd(0xFF04, nr("ID_Block_Flash"));
        image.setSupersede(false);
        m_link->sendMetaCmd(image);
        QVERIFY(waitCmds(5));
        const QByteArray bytes = m_col->cmds[4].getReply();
        QCOMPARE(bytes.size(), 3400);
        QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 2 * nr("Cmd_MemID0")), quint16(9));
        QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 2 * 2), quint16(1080));
    }

    void corruptedChunksAreReported()
    {
        QVERIFY(m_sim->control("corrupt"));
        CZunMetaCmd g(0xFF00, 10000, randomBytes(10000, 4));
        g.appendCmd(nr("Cmd_MemCopy"), 1791);
        m_link->sendMetaCmd(g);
        QVERIFY(waitCmds(2));
        QVERIFY(m_col->cmds[0].isError() && !m_col->cmds[0].isDone());
        QCOMPARE(m_col->cmds[0].replyWord(), nr("Msg_ErrChecksum"));
        QVERIFY(m_col->cmds[1].isNotSent()); // nothing that follows a failed block runs

        // Damaged on the way back: the read is given up, the stream stays in step.
        m_link->sendMetaCmd(CZunMetaCmd(0xFF00, 5000, randomBytes(5000, 5)));
        QVERIFY(waitCmds(3));
        QVERIFY(m_sim->control("corrupt"));
        m_link->sendCmd(0xFF04, nr("ID_Block_Flash"));
        m_link->sendCmd(nr("Cmd_MemID0"), 3);
        QVERIFY(waitCmds(5));
        QVERIFY(m_col->cmds[3].isNotSent() && !m_col->cmds[3].isDone());
        QVERIFY(m_col->cmds[4].isDone());
        QCOMPARE(m_col->cmds[4].replyWord(), quint16(3));
    }

    // A faulty processor announces a block of 2^31 bytes: the read is a damaged reply, the
    // connection is dropped with one message naming it, and the link is made again.
    void hugeBlockDropsTheConnectionCleanly()
    {
        QString text;
        connect(m_link.get(), &ZunBaseComm::signal_NetworkError, m_col.get(), [&text](QString t) { text = t; });
        QVERIFY(m_sim->control("hugeblock"));
        m_link->sendCmd(0xFF04, nr("ID_Block_Flash"));
        m_link->sendCmd(nr("Cmd_MemID0"), 3);
        QVERIFY(waitCmds(2));
        QVERIFY(m_col->cmds[0].isNotSent() && m_col->cmds[0].getReply().isEmpty());
        QVERIFY(m_col->cmds[1].isNotSent());
        // The message's own connection: the collector's count may arrive a pass before it.
        QVERIFY(waitUntil([&]() { return !text.isEmpty(); }, 10000));
        QVERIFY2(text.contains(QLatin1String("damaged reply")) && text.contains(QLatin1String("2147483648")), qPrintable(text));
        QVERIFY(waitUntil([&]() { return !m_link->isConnected(); }, 10000));
        QVERIFY(connectLink());
        m_link->sendCmd(nr("Cmd_MemID0"), 4);
        QVERIFY(waitCmds(3));
        QVERIFY(m_col->cmds[2].isDone());
        QCOMPARE(m_col->cmds[2].replyWord(), quint16(4));
        QCOMPARE(m_col->networkErrors, 1);
    }

    // After a damaged block the device object empties the link's buffer from its own thread
    // while the link thread goes on with the groups queued behind it. Done many times, every
    // command still comes back exactly once and the link stays in step.
    void resetFromAnotherThreadAfterDamagedBlocks()
    {
        int resets = 0;
        connect(m_link.get(), &ZunBaseComm::signal_CmdProcessed, m_col.get(), [&](CZunCmd cmd) {
            if (cmd.getCmd() == 0xFF00 && cmd.isError()) {
                m_link->resetBuffer();
                ++resets;
            }
        });
        int sent = 0;
        const int rounds = 30;
        for (int round = 0; round < rounds; ++round) {
            QVERIFY(m_sim->control("corrupt"));
            CZunMetaCmd g(0xFF00, 6000, randomBytes(6000, quint32(round)));
            g.appendCmd(nr("Cmd_MemCopy"), 1791);
            QCOMPARE(m_link->sendMetaCmd(g), 0);
            sent += g.size();
            for (int k = 0; k < 6; ++k) {
                CZunMetaCmd more(nr("Cmd_MemID0"), quint16(k));
                more.appendCmd(0xFF00, 3000, randomBytes(3000, quint32(100 + k)));
                QCOMPARE(m_link->sendMetaCmd(more), 0);
                sent += more.size();
            }
            QVERIFY(waitCmds(sent));
        }
        QCOMPARE(resets, rounds);
        QVERIFY(m_link->sendCmd(nr("Cmd_MemID0"), 9) == 0);
        QVERIFY(waitCmds(sent + 1));
        QCOMPARE(m_col->cmds.size(), sent + 1);
        QVERIFY(m_col->cmds.last().isDone());
        QCOMPARE(m_col->cmds.last().replyWord(), quint16(9));
    }

    void streamCutAtRandomPointsStillFrames()
    {
        FragmentingProxy proxy(m_sim->tcpPort(), 7, 42);
        m_link.reset();
        QVERIFY(startLink(proxy.port()));
        for (quint16 i = 0; i < 20; ++i) {
            CZunMetaCmd one(nr("Cmd_MemID0"), i);
            one.setSupersede(false); // every one goes out
            m_link->sendMetaCmd(one);
        }
        const QByteArray data = randomBytes(20000, 6);
        CZunMetaCmd g(0xFF00, quint16(data.size()), data);
        g.appendCmd(0xFF04, nr("ID_Block_Flash"));
        m_link->sendMetaCmd(g);
        QVERIFY2(waitCmds(22), qPrintable(QString("%1 commands, %2 pieces").arg(m_col->cmds.size()).arg(proxy.pieces())));
        QVERIFY(m_sim->control("set 34 77")); // a change at the front panel
        QVERIFY(waitCmds(23));
        for (int i = 0; i < 20; ++i)
            QCOMPARE(m_col->cmds[i].replyWord(), quint16(i));
        QCOMPARE(m_col->cmds[21].getReply(), data);
        QCOMPARE(m_col->cmds[22].getCmd(), nr("ID_TX_Status"));
        QCOMPARE(m_col->cmds[22].getValue(), quint16(34));
        QVERIFY(proxy.pieces() > 1000);
    }

    void droppedCommandsFinishAsNotSent()
    {
        QVERIFY(m_sim->control("silent"));
        m_link->sendCmd(34, 1);        // on the wire, never answered
        m_link->sendCmd(35, 1);
        m_link->sendMetaCmd(CZunMetaCmd(36, 1));
        m_link->resetBuffer();
        QVERIFY(waitCmds(2));
        QVERIFY(m_col->cmds[0].isNotSent() && m_col->cmds[1].isNotSent());
        QCOMPARE(m_col->cmds[1].getCmd(), quint16(36));
        QMetaObject::invokeMethod(m_link.get(), "disconnectZun", Qt::BlockingQueuedConnection);
        QVERIFY(waitCmds(3)); // the one on the wire can no longer be answered
        QCOMPARE(m_col->cmds[2].getCmd(), quint16(34));
        QVERIFY(m_col->cmds[2].isNotSent());
        QVERIFY(waitUntil([this]() { return !m_link->isConnected(); }, 10000));

        QCOMPARE(m_link->sendCmd(40, 1), -1); // while disconnected
        QCOMPARE(m_link->getLastError(), int(ZunBaseComm::NotConnected));
        QVERIFY(waitCmds(4));
        QVERIFY(m_col->cmds[3].isNotSent());

        QVERIFY(m_sim->control("silent off"));
        QVERIFY(m_sim->control("droplink"));
        QVERIFY(connectLink());
        m_link->sendCmd(41, 1);
        QVERIFY(waitCmds(5));
        QVERIFY(m_col->cmds[4].isNotSent());
        QVERIFY(waitUntil([this]() { return m_col->networkErrors > 0; }, 10000));
    }

    // Commands sent from this thread go out from here; the link thread wakes for their
    // replies, not once more for each to watch its deadline.
    void commandsFromAnotherThreadDoNotWakeTheLinkToWatchTheirDeadlines()
    {
        class CountCalls : public QObject
        {
        public:
            std::atomic<int> calls {0};
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::MetaCall)
                    ++calls;
                return false;
            }
        };
        CountCalls counter;
        counter.moveToThread(m_link.get());
        QMetaObject::invokeMethod(m_link.get(), [&] { m_link->installEventFilter(&counter); },
                                  Qt::BlockingQueuedConnection);
        constexpr int Commands = 100;
        for (int i = 0; i < Commands; ++i) {
            QCOMPARE(m_link->sendCmd(nr("Cmd_MemID0"), quint16(i)), 0);
            QVERIFY(waitCmds(i + 1));
            QVERIFY(m_col->cmds[i].isDone());
        }
        QMetaObject::invokeMethod(m_link.get(), [&] { m_link->removeEventFilter(&counter); },
                                  Qt::BlockingQueuedConnection);
        QVERIFY2(counter.calls < Commands / 4, qPrintable(QString::number(counter.calls.load())));
    }

    // A command with the usual deadline after one with a long deadline: its own deadline
    // counts, not the one the link was watching; the late command ends the link.
    void shortDeadlineAfterALongOneHolds()
    {
        m_link->sendCmd(nr("Cmd_SetupSelect"), 1); // answered (or refused) at once
        QVERIFY(waitCmds(1));
        QVERIFY(m_sim->control("silent"));
        // Heard where it is told (the link's thread): the link is already down then.
        std::atomic<int> upWhenLate {-1};
        const auto heard = connect(m_link.get(), &ZunBaseComm::signal_CmdProcessed, m_col.get(), [&](const CZunCmd& cmd) {
            if (cmd.isTimedOut())
                upWhenLate = m_link->isConnected();
        }, Qt::DirectConnection);
        QElapsedTimer t;
        t.start();
        m_link->sendCmd(34, 1);
        QVERIFY(waitUntil([this]() { return m_col->cmds.size() >= 2; }, 3 * ZunCmdBuffer::DefaultDeadlineMs));
        QVERIFY(m_col->cmds[1].isTimedOut());
        // The collector's copy is posted before the link's thread runs the handler above: on
        // a loaded machine this thread may see the copy first.
        QVERIFY(waitUntil([&]() { return upWhenLate.load() != -1; }, 5000));
        disconnect(heard);
        QCOMPARE(upWhenLate.load(), 0);
        QVERIFY2(t.elapsed() < ZunBaseComm::FlashDeadlineMs - 5000, qPrintable(QString::number(t.elapsed())));
    }

    void idleLinkIsClosedAfterTheCloseTime()
    {
        m_link->sendCmd(nr("Cmd_TCPCloseTime"), 1);
        QVERIFY(waitCmds(1));
        QVERIFY(m_col->cmds[0].isDone());
        QVERIFY(waitUntil([this]() { return !m_link->isConnected(); }, 15000));
    }

    void linkThreadStartsAndStopsCleanly()
    {
        QVERIFY(m_link->isRunning());
        m_link.reset(); // connected: the destructor ends the thread and closes the socket
        ZunBaseComm never(QHostAddress(QHostAddress::LocalHost), 1, 1080, m_map); // never started
        QVERIFY(!never.isRunning());
        QVERIFY(startLink(m_sim->tcpPort()));
        QVERIFY(m_link->isRunning());
        m_link->quit();
        QVERIFY(m_link->wait(10000));
        QVERIFY(m_link->getSocket() == nullptr);
    }
};

QTEST_GUILESS_MAIN(TestLinkTcp)
#include "tst_linktcp.moc"
