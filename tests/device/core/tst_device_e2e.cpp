// A device object against the emulator, through the real link on loopback.
#include "TcpSimProcess.h"
#include "CMemoryManager.h"
#include "CZunStatusBuffer.h"
// The emulator process helper of the protocol tests.
#include "ZunBaseComm.h"
#include "ZunCrc16.h"
#include "ZunLogFile.h"
#include "ZunReadTries.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtTest>

#include <atomic>

using namespace DeviceTestRig;

class TestDeviceE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;
    std::atomic<qint64> m_clock{1000000}; // read by the link's keep-alive check

    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }

    // Starts the emulator and a device object for it; connects and waits for the image.
    void start(quint16 fw, const QStringList& extra = {}, bool autoConnect = true)
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start(QStringList{"--serial", "42", "--firmware", QString::number(fw)} + extra),
                 qPrintable(m_sim->error()));
        m_zun.reset(new CZun(record(fw, 42), map(fw), QSharedPointer<CRoutingLibrary>()));
        // These tests start from an empty FIR/limiter list.
        m_zun->SetPassThroughOnEmptyFlash(false);
        m_zun->SetPort(m_sim->tcpPort());
        m_zun->SetClock([this]() { return m_clock.load(); });
        m_sent.clear();
        m_sent.attach(m_zun.get());
        ZunSignalSpy connected(m_zun.get(), &CZun::signal_Connected);
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->connect(autoConnect);
        QVERIFY(connected.count() > 0 || connected.wait(20000));
        if (autoConnect)
            QVERIFY(status.count() > 0 || status.wait(20000));
    }

    // Waits until the link has nothing left to send or to wait for.
    // Waits until nothing is on its way: the link idle and no set or setup in transfer,
    // twice (a transfer's end may start another). A reply that arrived later would
    // restart the keep-alive clock these tests set by hand; so would one the dispatcher
    // has been given but not yet handled, however late it gets to it.
    void settle()
    {
        QVERIFY(settleTransfers(m_zun.get()));
        QMetaObject::invokeMethod(img(), []() {}, Qt::BlockingQueuedConnection);
    }

    bool waitFor(const std::function<bool()>& f) { return waitUntil(f, 20000); }

private slots:
    void initTestCase() { m_config.reset(new Config); }

    void cleanup()
    {
        m_zun.reset(); // still connected: the destructor ends every thread
        m_sim.reset();
    }

    void connectReadsHardwareImageAndDirectory()
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080", "--hardware", "0xFF94"}), qPrintable(m_sim->error()));
        QVERIFY(m_sim->control(QStringLiteral("set %1 34").arg(map(1080)->getCmdNr("Cmd_1_ChGain0"))));
        m_zun.reset(new CZun(record(1080, 42), map(1080), QSharedPointer<CRoutingLibrary>()));
        // These tests start from an empty FIR/limiter list.
        m_zun->SetPassThroughOnEmptyFlash(false);
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.attach(m_zun.get());
        ZunSignalSpy hw(m_zun.get(), &CZun::signal_HardwareInfoUpdated);
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        ZunSignalSpy dir(m_zun->GetMemoryManager(), &CMemoryManager::signal_MemDirChanged);
        m_zun->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        const CZunMetaCmd group = m_sent.groups().first();
        QCOMPARE(group.size(), 4);
        QCOMPARE(group.commands()[0].getCmd(), quint16(19));
        QCOMPARE(group.commands()[0].getValue(), quint16(80));
        QCOMPARE(group.commands()[1].getCmd(), nr("Cmd_VerboseLevel"));
        QCOMPARE(group.commands()[1].getValue(), quint16(3));
        QCOMPARE(group.commands()[2].getCmd(), nr("Cmd_TCPCloseTime"));
        QCOMPARE(group.commands()[2].getValue(), quint16(15));
        QCOMPARE(group.commands()[3].getCmd(), nr("Cmd_BroadcastID"));
        QCOMPARE(group.commands()[3].getValue(), quint16(255));
        QTRY_COMPARE(hw.count(), 1);
        QCOMPARE(hw.at(0).at(1).value<CZunHardwareInfo>().hardwareWord(), 0xFF94u);
        QVERIFY(m_zun->GetHardwareInfo().isDoubleBoard());
        // the getters show the emulator's image, the connection group included
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output4), float(0.1f * 34));
        QCOMPARE(img()->getValue(nr("Cmd_BroadcastID")), quint16(255));
        QCOMPARE(img()->getValue(nr("Cmd_VerboseLevel")), quint16(3));
        QCOMPARE(m_zun->GetMemoryManager()->flashSize(), 2048u * 1024u);
        QVERIFY(!m_zun->IsRefreshPending());
        // the directory of the emulator's (empty) flash
        QVERIFY(dir.count() > 0 || dir.wait(20000));
        QVERIFY(m_zun->GetMemoryManager()->isValid());
        QCOMPARE(m_zun->GetMemoryManager()->entryCount(), 0u);
        for (const QList<QVariant>& l : log)
            QVERIFY2(!l.at(0).toString().contains(QStringLiteral("dropped")), qPrintable(l.at(0).toString()));
        QVERIFY(QFile::exists(m_config->path() + QStringLiteral("/42/MemDir_42.bin")));
        QVERIFY(QFile::exists(m_config->path() + QStringLiteral("/42/DSPVarDump_42.zun")));
    }

    void directoryInBothLayouts_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::newRow("list layout") << 1076;
        QTest::newRow("entry layout") << 1080;
    }

    void directoryInBothLayouts()
    {
        QFETCH(int, firmware);
        start(quint16(firmware));
        if (QTest::currentTestFailed())
            return;
        // The directory is read after the connection group, from another thread: an idle
        // link does not mean it has been asked for yet.
        CMemoryManager* mm = m_zun->GetMemoryManager();
        QVERIFY(waitFor([&]() { return mm->isValid(); }));
        settle();
        QCOMPARE(mm->setupCount(), quint16(0));
        // Store the current image as a setup in the first free slot, as the setup manager will.
        ZunSignalSpy uploaded(img(), &CZunStatusBuffer::signal_SetupUploaded);
        ZunSignalSpy dir(mm, &CMemoryManager::signal_MemDirChanged);
        const QByteArray setup = img()->toByteArray();
        CZunMetaCmd store;
        store.appendCmd(0xFF00, quint16(setup.size()), setup);
        store.appendCmd(nr("Cmd_MemID2"), nr("ID_List_Setup"));
        store.appendCmd(nr("Cmd_MemID0"), 254);
        store.appendCmd(nr("Cmd_MemCopy"), quint16(nr("ID_FAI_Ctrl_w_RxTxBuf") + nr("CmdS_CopyRxTxBuf2F")));
        QCOMPARE(m_zun->SendMetaCmd(store), 0);
        QVERIFY(uploaded.count() > 0 || uploaded.wait(20000));
        QCOMPARE(uploaded.at(0).at(0).toBool(), true);
        m_zun->RefreshMemDir();
        QVERIFY(dir.count() > 0 || dir.wait(20000));
        QCOMPARE(mm->setupCount(), quint16(1));
        QCOMPARE(mm->setupIdAt(0), ZunCrc16(setup));
        QCOMPARE(mm->entryCount(), 1u);
        QCOMPARE(mm->deletedCount(), quint16(0));
    }

    void connectionGroupBeforeFirmware1077WithoutAutoConnect()
    {
        start(1076, {}, false);
        if (QTest::currentTestFailed())
            return;
        settle();
        QCOMPARE(m_sent.groups().size(), 1);
        QCOMPARE(m_sent.groups().first().size(), 3);
        QCOMPARE(m_sent.count(nr("ID_TX_Hardware")), 0);
        QCOMPARE(m_sent.count(nr("Cmd_MemCopy")), 0);
        // keep-alive is off after connect(false): the check does nothing
        m_clock += 20000;
        m_zun->triggerTcpCheck();
        QVERIFY(m_zun->IsConnected());
        QCOMPARE(m_sent.groups().size(), 1);
    }

    // A confirmed value reaches the GUI thread as one queued call, however many pages,
    // strips and channels listen, and the reply's keep-alive restart adds none; in the
    // link's thread the image handles it in the pass of the read that brought it.
    void aConfirmedValueWakesTheGuiThreadOnce()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        settle();
        class CountCalls : public QObject
        {
        public:
            std::atomic<int> calls{0};
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::MetaCall)
                    ++calls;
                return false;
            }
        };
        QObject listeners[5];
        int seen = 0;
        for (QObject& l : listeners)
            connect(m_zun.get(), &CZun::signal_ChannelGain, &l, [&](ZunC::AnalogOutputs, double) { ++seen; });
        CountCalls counter, imageCalls;
        QCoreApplication::instance()->installEventFilter(&counter);
        imageCalls.moveToThread(img()->thread());
        QMetaObject::invokeMethod(&imageCalls, [&]() { img()->installEventFilter(&imageCalls); }, Qt::BlockingQueuedConnection);
        constexpr int Edits = 10;
        for (int i = 0; i < Edits; ++i) {
            m_zun->SetChannelGain(-1.0f - float(i), ZunC::Output3);
            QVERIFY(waitFor([&]() { return seen >= 5 * (i + 1) && m_zun->GetLink()->getCmdBuffer()->isIdle(); }));
        }
        QCoreApplication::instance()->removeEventFilter(&counter);
        QMetaObject::invokeMethod(&imageCalls, [&]() {
            img()->removeEventFilter(&imageCalls);
            imageCalls.moveToThread(QCoreApplication::instance()->thread());
        }, Qt::BlockingQueuedConnection);
        QCOMPARE(imageCalls.calls.load(), 0);
        QCOMPARE(seen, 5 * Edits);
        QVERIFY2(counter.calls <= 2 * Edits, qPrintable(QString::number(counter.calls.load())));
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output3), -1.0f - float(Edits - 1));
    }

    void settersReachTheEmulatorWithTheirPartners()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        settle();
        // unlinked: only the addressed parameter
        m_zun->SetChannelGain(-3.25, ZunC::Output2);
        m_zun->MuteChannel(ZunC::Output5, true);
        m_zun->SetChannelPhaseInversion(ZunC::Output7, true);
        m_zun->SetInputPathGain(-1.5, ZunC::PathE);
        m_zun->MuteInputPath(ZunC::PathA, true);
        m_zun->SetMasterGain(2, -6.0);
        m_zun->SetMasterMute(1, true);
        QVERIFY(waitFor([&]() { return m_zun->IsAllMuted(1); }));
        settle();
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output2), float(0.1f * -32));
        QVERIFY(m_zun->IsChannelMuted(ZunC::Output5));
        QVERIFY(!m_zun->IsChannelMuted(ZunC::Output1));
        QVERIFY(m_zun->IsChannelPhaseInverted(ZunC::Output7));
        QCOMPARE(m_zun->GetInputPathGain(ZunC::PathE), float(0.1f * -15));
        QVERIFY(m_zun->IsInputPathMuted(ZunC::PathA));
        QVERIFY(!m_zun->IsInputPathMuted(ZunC::PathB));
        QCOMPARE(m_zun->GetMasterGain(2), float(0.1f * -60));
        QCOMPARE(m_zun->GetMasterGain(1), 0.0f);
        QVERIFY(!m_zun->IsAllMuted(2));

        // Linking copies DSP 0 onto DSP 1 (the blocks differ now) and uploads the image.
        QVERIFY(!img()->AreDSPBlocksEqual());
        img()->SetLinked(true);
        QVERIFY(img()->isLinked());
        settle();
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->RefreshStatusBuffer();
        QVERIFY(status.count() > 0 || status.wait(20000));
        QVERIFY(img()->isLinked()); // as the emulator now holds it
        QVERIFY(img()->AreDSPBlocksEqual());
        QVERIFY(m_zun->IsInputPathMuted(ZunC::PathB)); // A copied onto B
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output6), float(0.1f * -32));

        m_zun->SetChannelGain(2.35, ZunC::Output1);
        m_zun->MuteChannel(ZunC::Output4, true);
        m_zun->MuteInputPath(ZunC::PathB, false);
        m_zun->SetInputPathGain(-2.0, ZunC::PathA);
        m_zun->SetChannelPhaseInversion(ZunC::Output3, true);
        m_zun->SetMasterGain(0, -3.0);
        m_zun->SetMasterMute(2, true);
        QVERIFY(waitFor([&]() { return m_zun->IsAllMuted(0); }));
        settle();
        QCOMPARE(m_zun->GetInputPathGain(ZunC::PathB), float(0.1f * -20));
        QVERIFY(m_zun->IsChannelPhaseInverted(ZunC::Output7));
        QCOMPARE(m_zun->GetMasterGain(1), float(0.1f * -30));
        QCOMPARE(m_zun->GetMasterGain(2), float(0.1f * -30));
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output5), float(0.1f * 23));
        QVERIFY(m_zun->IsChannelMuted(ZunC::Output0));
        QVERIFY(!m_zun->IsInputPathMuted(ZunC::PathA));

        img()->SetLinked(false);
        QVERIFY(waitFor([&]() { return !img()->isLinked(); }));
        m_zun->MuteChannel(ZunC::Output3, true);
        QVERIFY(waitFor([&]() { return m_zun->IsChannelMuted(ZunC::Output3); }));
        settle();
        QVERIFY(!m_zun->IsChannelMuted(ZunC::Output7));

        // The copied crossover records name DSP 1's biquads: E is added to every section
        // number below E; 255 (none) and numbers of E or more stay. The processor gets them.
        const quint16 e = nr("Inf_DSP_EQ_AnzSet"), f0 = nr("Inf_DSP0_ParBaseFi"), f1 = nr("Inf_DSP1_ParBaseFi");
        img()->setValue(quint16(f0 + 2), quint16(1 << 8 | 0));
        img()->setValue(quint16(f0 + 3), quint16(255 << 8 | (e - 1)));
        img()->setValue(quint16(f0 + 4), quint16(25 << 8 | e));
        img()->SetLinked(true);
        const QList<quint16> remapped{quint16((1 + e) << 8 | e), quint16(255 << 8 | (2 * e - 1)), quint16(25 << 8 | e)};
        auto dsp1Sections = [&] {
            return QList<quint16>{img()->getValue(quint16(f1 + 2)), img()->getValue(quint16(f1 + 3)),
                                  img()->getValue(quint16(f1 + 4))};
        };
        QCOMPARE(dsp1Sections(), remapped);
        QCOMPARE(img()->getValue(quint16(f0 + 2)), quint16(1 << 8 | 0)); // DSP 0 as it was
        settle();
        status.clear();
        m_zun->RefreshStatusBuffer();
        QVERIFY(status.count() > 0 || status.wait(20000));
        QCOMPARE(dsp1Sections(), remapped);
    }

    void refusedValueLeavesTheImageAndIsLogged()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        settle();
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        const quint16 gain0 = nr("Cmd_0_ChGain0");
        QVERIFY(m_sim->control(QStringLiteral("refuse %1").arg(gain0)));
        m_zun->SetChannelGain(-1.0, ZunC::Output0);
        QVERIFY(log.count() > 0 || log.wait(20000));
        QCOMPARE(log.at(0).at(0).toString(),
                 QStringLiteral("Internal error %1 at Cmd:%2, Val:65526\n").arg(nr("Msg_ErrBusy"), 0, 16).arg(gain0));
        settle();
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output0), 0.0f);
    }

    // A damaged read-back is read again (spaced out, as reads beside another program's
    // blocks are); only when every try is damaged is the operator told, once. Nothing but
    // the read requests goes to the processor.
    void damagedImageReadBackIsReadAgainOrReported_data()
    {
        QTest::addColumn<int>("damaged");
        QTest::addColumn<bool>("reported");
        QTest::newRow("one read damaged") << 1 << false;
        QTest::newRow("every read damaged") << ZunReadTries::Rereads + 1 << true;
    }

    void damagedImageReadBackIsReadAgainOrReported()
    {
        QFETCH(int, damaged);
        QFETCH(bool, reported);
        start(1080);
        if (QTest::currentTestFailed())
            return;
        settle();
        const quint16 gain3 = nr("Cmd_0_ChGain3");
        img()->setValue(gain3, 77); // stale here only: a good read-back puts the processor's back
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        ZunSignalSpy box(m_zun.get(), &CZun::signal_exception);
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        m_sent.clear();
        QVERIFY(m_sim->control(QStringLiteral("corrupt %1").arg(damaged)));
        m_zun->RefreshStatusBuffer();
        QVERIFY(waitUntil([&]() { return status.count() > 0 || box.count() > 0; }, 60000));
        settle();
        QVERIFY(!m_zun->IsRefreshPending());
        QCOMPARE(box.count(), reported ? 1 : 0);
        QCOMPARE(status.count(), reported ? 0 : 1);
        QCOMPARE(log.count(), reported ? 1 : 0);
        const QString held = m_sim->query(QStringLiteral("get %1").arg(gain3), QStringLiteral("word "));
        bool ok = false;
        const int value = held.section(QLatin1Char(' '), 2).toInt(&ok);
        QVERIFY(ok && value != 77);
        QCOMPARE(img()->getValue(gain3), quint16(reported ? 77 : value));
        const QPair<quint16, quint16> copy(nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")),
            read(nr("ID_TX_Block"), nr("ID_Block_Flash"));
        QList<QPair<quint16, quint16>> reads, sent = m_sent.commands();
        for (int i = 0; i < (reported ? damaged : 2); ++i)
            reads << copy << read;
        // The rebuild of a good image pauses the keep-alive, as every rebuild does.
        sent.erase(std::remove_if(sent.begin(), sent.end(),
                                  [&](const QPair<quint16, quint16>& c) { return c.first == nr("Cmd_TCPCloseTime"); }),
                   sent.end());
        QCOMPARE(sent, reads);
        QVERIFY(m_zun->IsConnected());
    }

    void frontPanelChangeReachesTheGetters()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        settle();
        const quint16 gain3 = nr("Cmd_0_ChGain3");
        QVERIFY(m_sim->control(QStringLiteral("set %1 16").arg(gain3)));
        QVERIFY(waitFor([&]() { return m_zun->GetChannelGain(ZunC::Output3) == float(0.1f * 16); }));
        // The DSP status block names the changed parameter too; it is read as its own group.
        settle();
        QVERIFY(m_sim->control(QStringLiteral("set %1 1").arg(nr("Cmd_1_ChMute2"))));
        QVERIFY(waitFor([&]() { return m_zun->IsChannelMuted(ZunC::Output6); }));
        m_sent.clear();
        QVERIFY(m_sim->control(QStringLiteral("set %1 0").arg(nr("Cmd_1_ChMute2"))));
        m_zun->SendCmd(nr("ID_TX_Block"), nr("ID_Block_DSP_Stat"));
        QVERIFY(waitFor([&]() {
            for (const CZunMetaCmd& g : m_sent.groups())
                if (g.size() == 1 && !g.supersede() && g.commands()[0].getCmd() == 0xFF0B)
                    return true;
            return false;
        }));
        QVERIFY(waitFor([&]() { return !m_zun->IsChannelMuted(ZunC::Output6); }));
    }

    // A processor that answers the resend keeps its link, however soon the answer comes
    // after the check that sent it; one that has fallen silent loses it.
    void keepAliveResendsAndReportsALostLink_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("silent: the loss is reported") << false;
        QTest::newRow("resend answered before the next check") << true;
    }

    void keepAliveResendsAndReportsALostLink()
    {
        QFETCH(bool, answers);
        start(1080);
        if (QTest::currentTestFailed())
            return;
        settle();
        m_sent.clear();
        const quint16 close = nr("Cmd_TCPCloseTime");
        const qint64 base = m_clock;
        m_clock = base + 5000;
        m_zun->triggerTcpCheck();
        QCOMPARE(m_sent.count(close), 0);
        m_clock = base + 5001;
        m_zun->triggerTcpCheck();
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{close, 15}}));
        settle(); // the reply restarts the clock at base + 5001
        if (!answers)
            QVERIFY(m_sim->control(QStringLiteral("silent")));
        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        ZunSignalSpy disconnected(m_zun.get(), &CZun::signal_Disconnected);
        m_clock = base + 5001 + 10000;
        m_zun->triggerTcpCheck(); // sends the close time again
        QCOMPARE(exception.count(), 0);
        if (answers)
            settle(); // its reply restarts the clock at base + 15001
        m_clock = base + 5001 + 10001;
        m_zun->triggerTcpCheck();
        if (answers) {
            QCOMPARE(exception.count(), 0);
            QVERIFY(m_zun->IsConnected());
            QCOMPARE(m_sent.count(close), 2);
            return;
        }
        QCOMPARE(exception.count(), 1);
        QCOMPARE(exception.at(0).at(0).toString(),
                 QStringLiteral("The connection to Zun nr. 42 seems to be lost. Time out: 10001"));
        QCOMPARE(exception.at(0).at(1).toString(), QStringLiteral("Network error"));
        QVERIFY(disconnected.count() > 0 || disconnected.wait(20000));
        QVERIFY(!m_zun->IsConnected());
    }

    // A firmware without a command table, announced when the processor was registered or
    // after (a firmware change that ReInit refuses): every connect warns, the link stays.
    void unsupportedFirmwareIsReportedAndTheLinkStays_data()
    {
        QTest::addColumn<bool>("later");
        QTest::newRow("at registration") << false;
        QTest::newRow("after a firmware change") << true;
    }
    void unsupportedFirmwareIsReportedAndTheLinkStays()
    {
        QFETCH(bool, later);
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080"}), qPrintable(m_sim->error()));
        // announced as 1081, for which no table exists; the map keeps its version
        const auto announced = record(later ? 1080 : 1081, 42);
        m_zun.reset(new CZun(announced, map(1080), QSharedPointer<CRoutingLibrary>()));
        m_zun->SetPort(m_sim->tcpPort());
        // The empty flash's pass-through upload, cut by the disconnect, has a box of its own.
        m_zun->SetPassThroughOnEmptyFlash(false);
        if (later) {
            announced->setFirmware(1081); // as discovery does before the re-initialisation
            QVERIFY_EXCEPTION_THROWN(m_zun->ReInit(announced, map(1081), QSharedPointer<CRoutingLibrary>()),
                                     std::logic_error);
        }
        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        for (int connect = 1; connect <= 2; ++connect) {
            ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
            m_zun->connect();
            QVERIFY(status.count() > 0 || status.wait(20000));
            QCOMPARE(exception.count(), connect);
            QCOMPARE(exception.last().at(0).toString(), QStringLiteral("Firmware Version 1081 is not supported"));
            QCOMPARE(exception.last().at(1).toString(), QStringLiteral("Warning"));
            QVERIFY(m_zun->IsConnected());
            m_zun->disconnect();
            QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }));
        }
    }

    void logFileInTheDeviceFolder()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        m_zun->printToLog(QStringLiteral("hello from 42"));
        QFile f(m_config->path() + QStringLiteral("/42/logFile.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY(text.contains(QStringLiteral(": Init LogFile\n\n")));
        QVERIFY(text.contains(QStringLiteral(": hello from 42\n")));
    }
};

QTEST_GUILESS_MAIN(TestDeviceE2E)
#include "tst_device_e2e.moc"
