// The device object without a processor: ranges, getters, setters (what they would send),
// the parameter image and the mended lifetime.
#include "CMemoryManager.h"
#include "CRoutingManager.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "ZunBaseComm.h"
#include "ZunCrc16.h"
#include "ZunDSPProgramManager.h"
#include "ZunSetup.h"
#include "ZunWaitMs.h"
#include "ZunWaitingCall.h"
#include "ZunLogCapture.h"
#include "ZunSignalSpy.h"

#include <QtEndian>
#include <QtTest>

using namespace DeviceTestRig;

class TestDevice : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;
    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    void setWord(const char* name, quint16 v) { img()->setValue(nr(name), v); }
    void link(bool on) { setWord("Cmd_SetupFlags", on ? 2 : 0); }

    // The image as a block, with words changed.
    QByteArray imageWith(const QList<QPair<quint16, quint16>>& words) const
    {
        QByteArray b = img()->toByteArray();
        for (const auto& w : words)
            qToLittleEndian<quint16>(w.second, reinterpret_cast<uchar*>(b.data()) + 2 * w.first);
        return b;
    }

private slots:
    void initTestCase() { m_config.reset(new Config); }

    void init()
    {
        m_zun.reset(new CZun(record(1080), map(1080), QSharedPointer<CRoutingLibrary>()));
        // The link thread is running its event loop (so unsent commands come back).
        QMetaObject::invokeMethod(m_zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        m_sent.clear();
        m_sent.attach(m_zun.get());
    }

    void cleanup() { m_zun.reset(); }

    void rangesAndStepsFromTheMap()
    {
        QCOMPARE(m_zun->GetGainStep(), 0.1f);
        QCOMPARE(m_zun->GetMasterGainParam()->GetMin(), double(-800.0f * 0.1f));
        QCOMPARE(m_zun->GetMasterGainParam()->GetMax(), double(120.0f * 0.1f));
        QCOMPARE(m_zun->GetMasterGainParam()->firstStep(), double(0.1f));
        QCOMPARE(m_zun->GetMasterGainParam()->lastStep(), double(0.1f));
        QCOMPARE(m_zun->GetChannelDelayParam()->GetMax(), double(65535.0f * float(1.0 / 96)));
        QCOMPARE(m_zun->GetMasterDelayStep(), float(1.0 / 24));
        QCOMPARE(m_zun->GetLimiterReleaseParam()->GetMin(), 10.0);
        QCOMPARE(m_zun->GetName(), QStringLiteral("Rig 42"));
        QCOMPARE(m_zun->GetNr(), 42);
        // A routing word of 0 in the announce builds the routing from 0x1191.
        QCOMPARE(m_zun->GetRoutingManager()->lastRoutingWord(), quint16(0x1191));
    }

    // The rules that change at firmware 1071 and 1072 (the map is that of 1075).
    void firmware1071And1072_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::addColumn<bool>("ownMasterDelayStep");
        QTest::addColumn<bool>("programIds");
        QTest::newRow("1070") << 1070 << false << false;
        QTest::newRow("1071") << 1071 << false << true;
        QTest::newRow("1072") << 1072 << true << true;
    }
    void firmware1071And1072()
    {
        QFETCH(int, firmware);
        QFETCH(bool, ownMasterDelayStep);
        QFETCH(bool, programIds);
        m_zun.reset(new CZun(record(quint16(firmware)), map(1075), QSharedPointer<CRoutingLibrary>()));
        const float mdelay = float(m_zun->GetCmdMap()->getFltConst("Step_MDelay"));
        QVERIFY(mdelay != m_zun->GetDelayStep());
        QCOMPARE(m_zun->GetMasterDelayStep(), ownMasterDelayStep ? mdelay : m_zun->GetDelayStep());
        setWord("Cmd_0_DSP_ID", 0x0451);
        setWord("Cmd_1_DSP_ID", 0x0249);
        QCOMPARE(m_zun->GetActiveDSPProgramID(1), quint16(programIds ? 0x0451 : 0));
        QCOMPARE(m_zun->GetActiveDSPProgramID(2), quint16(programIds ? 0x0249 : 0));
    }

    void completeImageShiftsMasterGainAndSetsFlashSize()
    {
        ZunSignalSpy changed(m_zun.get(), &CZun::signal_ZunStatusChanged);
        QVERIFY(img()->setImage(imageWith({{nr("Cmd_0_MasterGainOfs"), 60}, {nr("Cmd_FlashSize"), 1024}})));
        QVERIFY(changed.wait());
        QCOMPARE(m_zun->GetMasterGainParam()->GetMin(), double(-80.0f - 6.0f));
        QCOMPARE(m_zun->GetMasterGainParam()->GetMax(), double(12.0f - 6.0f));
        QCOMPARE(m_zun->GetMemoryManager()->flashSize(), 1024u * 1024u);
        // The keep-alive was switched off for the rebuild and is back on.
        const quint16 close = nr("Cmd_TCPCloseTime");
        QVERIFY(m_sent.contains(close, 0));
        QCOMPARE(m_sent.commands().last(), qMakePair(close, quint16(15)));
        QVERIFY(m_zun->IsTcpCheckOn());
    }

    void keepAliveComesBackWhenTheRebuildFails()
    {
        QVERIFY(m_zun->IsTcpCheckOn());
        // A firmware without a table of its own: every name is missing.
        try {
            m_zun->GetCmdMap()->setVersion(1074);
        } catch (const std::exception&) {
        }
        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        ZunSignalSpy changed(m_zun.get(), &CZun::signal_ZunStatusChanged);
        QVERIFY(img()->setImage(QByteArray(3400, '\0')));
        QVERIFY(changed.wait());
        // The FIR/limiter manager hears of the change in its own thread: let it act first.
        QMetaObject::invokeMethod(m_zun->GetFIRLimManager(), []() {}, Qt::BlockingQueuedConnection);
        QCoreApplication::processEvents();
        QCOMPARE(exception.count(), 1); // one fault, one message box
        QVERIFY(m_zun->IsTcpCheckOn());
        QCOMPARE(m_zun->GetTcpCloseTime(), quint16(15));
        QCOMPARE(m_zun->GetMemoryManager()->flashSize(), 0x40000u); // no flash size known
    }

    void setupWordReaders()
    {
        ZunSetup setup;
        setup.SetFIRIndex(65538, 0);
        QCOMPARE(setup.getValue(146), quint16(2));
        QCOMPARE(setup.getValue(147), quint16(1));
        QCOMPARE(setup.getValue(916), quint16(2));
        QCOMPARE(setup.getValue(917), quint16(1));
        setup.SetFIRIndex(7, 2);
        QCOMPARE(setup.GetActiveFilterIndex(2), 7u);
        QCOMPARE(setup.GetActiveFilterIndex(1), 65538u);
        setup.setValue(873, 2121);
        QCOMPARE(setup.GetDSPProgID(2), quint16(2121));
        QVERIFY_EXCEPTION_THROWN(setup.SetFIRIndex(1, 3), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(setup.GetDSPProgID(-1), std::logic_error);
    }

    void malformedImageIsRefused()
    {
        ZunSignalSpy changed(img(), &CZunStatusBuffer::signal_StatusBufferChanged);
        QVERIFY(!img()->setImage(QByteArray(3399, '\1')));
        QVERIFY(!img()->setImage(QByteArray(3401, '\1')));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(img()->toByteArray(), QByteArray(3400, '\0'));
    }

    void gettersConvertTheImageWords()
    {
        setWord("Cmd_0_MasterGain", quint16(-35));
        setWord("Cmd_1_MasterGain", 20);
        setWord("Cmd_1_ChGain2", 0x8000);
        setWord("Cmd_1_InMuteF", 1);
        setWord("Cmd_0_ChPhInv3", 1);
        QCOMPARE(m_zun->GetMasterGain(0), float(0.1f * -35.0));
        QCOMPARE(m_zun->GetMasterGain(1), float(0.1f * -35.0));
        QCOMPARE(m_zun->GetMasterGain(2), float(0.1f * 20.0));
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output6), float(0.1f * -32768.0));
        QVERIFY(m_zun->IsInputPathMuted(ZunC::PathF));
        QVERIFY(!m_zun->IsInputPathMuted(ZunC::PathE));
        QVERIFY(m_zun->IsChannelPhaseInverted(ZunC::Output3));
        QCOMPARE(m_zun->GetInputPathGain(ZunC::NoPath), -18.0f);
        QVERIFY(!m_zun->IsInputPathMuted(ZunC::NoPath));
        QVERIFY_EXCEPTION_THROWN(m_zun->GetMasterGain(3), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(m_zun->GetChannelGain(ZunC::AnalogOutputs(8)), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(m_zun->IsInputPathMuted(ZunC::InputPaths(8)), std::logic_error);
        setWord("Cmd_0_MasterMute", 1);
        QVERIFY(m_zun->IsAllMuted(1));
        QVERIFY(!m_zun->IsAllMuted(2));
        link(true);
        try {
            m_zun->IsAllMuted(0);
            QFAIL("differing master mutes read as linked");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()),
                     QStringLiteral("CZun::IsAllMuted(): MasterMutes are not linked but tried to retrieved as linked"));
        }
    }

    void gainsRoundHalfAwayFromZero()
    {
        const quint16 g = nr("Cmd_0_ChGain1");
        const QList<QPair<double, qint16>> cases = {{-3.26, -33}, {-3.25, -32}, {2.35, 23}, {2.45, 25}, {0.04, 0}};
        for (const auto& c : cases) {
            m_sent.clear();
            m_zun->SetChannelGain(c.first, ZunC::Output1);
            QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{g, quint16(c.second)}}));
        }
    }

    void outOfRangeGainIsRefusedBeforeAnythingElse()
    {
        m_zun->SetChannelGain(12.0, ZunC::Output0); // the maximum is accepted
        m_sent.clear();
        try {
            m_zun->SetChannelGain(12.05, ZunC::AnalogOutputs(9));
            QFAIL("accepted");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("Gain value of 12.05 is out of bounds. Valid values are between "
                                                       "-80 and 12"));
        }
        QVERIFY_EXCEPTION_THROWN(m_zun->SetInputPathGain(-90, ZunC::NoPath), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(m_zun->SetMasterGain(0, std::nan("")), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(m_zun->MuteChannel(ZunC::AnalogOutputs(8), true), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(m_zun->MuteInputPath(ZunC::InputPaths(12), true), std::logic_error);
        m_zun->SetInputPathGain(1.0, ZunC::NoPath);
        m_zun->MuteInputPath(ZunC::NoPath, true);
        QVERIFY(m_sent.commands().isEmpty());
    }

    void linkedPartnersTravelInTheSameGroup()
    {
        const quint16 m5 = nr("Cmd_1_ChMute1"), m1 = nr("Cmd_0_ChMute1");
        m_zun->MuteChannel(ZunC::Output5, true);
        QCOMPARE(m_sent.groups().last().size(), 1);
        link(true);
        m_zun->MuteChannel(ZunC::Output5, true);
        QCOMPARE(m_sent.commands().mid(1), (QList<QPair<quint16, quint16>>{{m5, 1}, {m1, 1}}));
        QVERIFY(m_sent.groups().last().supersede());
        m_sent.clear();
        m_zun->MuteInputPath(ZunC::PathA, true);
        m_zun->SetInputPathGain(-1.0, ZunC::PathB);
        m_zun->MuteInputPath(ZunC::PathC, true);
        m_zun->SetChannelPhaseInversion(ZunC::Output2, true);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_0_InMuteA"), 1},
                                                                     {nr("Cmd_0_InMuteB"), 1},
                                                                     {nr("Cmd_0_InGainB"), quint16(-10)},
                                                                     {nr("Cmd_0_InGainA"), quint16(-10)},
                                                                     {nr("Cmd_0_InMuteC"), 1},
                                                                     {nr("Cmd_0_ChPhInv2"), 1},
                                                                     {nr("Cmd_1_ChPhInv2"), 1}}));
    }

    void masterGainAndMuteByDSP()
    {
        const quint16 g0 = nr("Cmd_0_MasterGain"), g1 = nr("Cmd_1_MasterGain");
        const quint16 u0 = nr("Cmd_0_MasterMute"), u1 = nr("Cmd_1_MasterMute");
        m_zun->SetMasterGain(0, -1.0);
        QCOMPARE(m_sent.groups().size(), 2); // two single commands even when unlinked
        m_zun->SetMasterGain(3, -1.0);
        QCOMPARE(m_sent.groups().size(), 2);
        m_zun->SetMasterMute(1, true);
        QCOMPARE(m_sent.commands().mid(2), (QList<QPair<quint16, quint16>>{{u0, 1}}));
        link(true);
        m_zun->SetMasterMute(1, true);
        QCOMPARE(m_sent.commands().mid(3), (QList<QPair<quint16, quint16>>{{u0, 1}, {u1, 1}}));
        QCOMPARE(m_sent.commands().first(), qMakePair(g0, quint16(-10)));
        QCOMPARE(m_sent.commands().at(1), qMakePair(g1, quint16(-10)));
    }

    void imageReaders()
    {
        setWord("Cmd_0_FIR_ID1", 1);
        setWord("Cmd_0_FIR_ID0", 2);
        QCOMPARE(m_zun->GetActiveFilterIndex(0), 65538u);
        QCOMPARE(m_zun->GetActiveFilterIndex(2), 0u);
        QVERIFY_EXCEPTION_THROWN(m_zun->GetActiveFilterIndex(3), std::logic_error);
        QCOMPARE(m_zun->GetSampleRate(), 96000.0);
        setWord("Cmd_KeyLock", 255);
        QVERIFY(!m_zun->IsKeyLocked());
        setWord("Cmd_KeyLock", 1);
        QVERIFY(m_zun->IsKeyLocked());
        setWord("Cmd_1_FIRCopy", 3);
        QCOMPARE(m_zun->CopyFIRCoeffsMode(2), ZunC::CopyHighToSubLowMid);
        QCOMPARE(m_zun->CopyFIRCoeffsMode(1), ZunC::NoCopies);
        QVERIFY_EXCEPTION_THROWN(m_zun->CopyFIRCoeffsMode(-1), std::logic_error);
        setWord("Cmd_1_DSP_ID", 2121);
        QCOMPARE(m_zun->GetActiveDSPProgramID(2), quint16(2121));
        QVERIFY_EXCEPTION_THROWN(m_zun->GetActiveDSPProgramID(5), std::logic_error);
        setWord("Cmd_0_DSP_Type", 791);
        QCOMPARE(m_zun->GetDSPType(), quint16(791));
    }

    void readBackRequests()
    {
        m_zun->RefreshStatusBuffer();
        m_zun->RefreshStatusBuffer();
        QCOMPARE(m_sent.groups().size(), 1); // one read-back at a time
        QVERIFY(!m_sent.groups().first().supersede());
        QVERIFY(m_zun->IsRefreshPending());
        // Not connected: the request comes back unsent, and the next refresh still runs.
        QVERIFY(waitUntil([&]() { return !m_zun->IsRefreshPending(); }));
        m_sent.clear();
        m_zun->requestCmdStatus(1700);
        QVERIFY(m_sent.groups().isEmpty());
        m_zun->requestCmdStatus(nr("Cmd_0_MasterGain"));
        QCOMPARE(m_sent.groups().size(), 2);
        QVERIFY(!m_sent.groups().first().supersede());
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{0xFF0B, nr("Cmd_0_MasterGain")},
                                                                     {0xFF0B, nr("Cmd_SetupFlags")},
                                                                     {0xFF0B, nr("Cmd_1_MasterGain")}}));
    }

    void hardwareInfoIsTakenOnce()
    {
        ZunSignalSpy spy(m_zun.get(), &CZun::signal_HardwareInfoUpdated);
        m_zun->SetHardwareInfo(0x000000050000FF94ull);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toUInt(), 42u);
        QCOMPARE(m_zun->GetHardwareInfo().hardwareWord(), 0xFF94u);
        QCOMPARE(m_zun->GetHardwareInfo().extraWord(), 5u);
        m_zun->SetHardwareInfo(0x80);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_zun->GetHardwareInfo().hardwareWord(), 0xFF94u);
    }

    void lowMemoryNeedsDeletedEntries()
    {
        ZunSignalSpy low(m_zun.get(), &CZun::signal_LowFlashMemory);
        m_zun->on_LowFlashMemory();
        QCOMPARE(low.count(), 0);
    }

    void modifiedFlagAndIgnoreList()
    {
        const QList<quint16> ignore = img()->ignoreList();
        QVERIFY(ignore.contains(nr("Cmd_0_MasterGain")));
        QVERIFY(ignore.contains(nr("Cmd_BroadcastID")));
        QVERIFY(!ignore.contains(nr("Cmd_0_ChGain0")));
        ZunSignalSpy modified(img(), &CZunStatusBuffer::signal_SetupModified);
        setWord("Cmd_0_MasterGain", 5);
        QVERIFY(!img()->isModified());
        setWord("Cmd_0_ChGain0", 5);
        setWord("Cmd_0_ChGain1", 5);
        QVERIFY(img()->isModified());
        QCOMPARE(modified.count(), 1); // once per modified period
        img()->clearModified();
        img()->SetSetupName(QStringLiteral("Live"));
        QCOMPARE(modified.count(), 2);
        QCOMPARE(img()->GetSetupName(), QStringLiteral("Live") + QString(20, ' '));
    }

    void setupNameStopsAtNul()
    {
        QByteArray b(3400, '\0');
        b.replace(3376, 5, QByteArray("Test\0", 5));
        CZunStatusBuffer buffer(b);
        QCOMPARE(buffer.GetSetupName(), QStringLiteral("Test"));
        CZunStatusBuffer fresh;
        QCOMPARE(fresh.GetCRC(), 0u);
        fresh.setValue(3, 0x1234);
        QCOMPARE(fresh.GetCRC(), ZunCrc16(fresh.toByteArray()));
    }

    void dspBlocksCompareWithoutTheirOwnWords()
    {
        QVERIFY(img()->AreDSPBlocksEqual());
        // digital output selections and block words 60-67 are per DSP
        img()->setValue(CZunStatusBuffer::DSP1Offset / 2 + 32, 1);
        img()->setValue(CZunStatusBuffer::DSP0Offset / 2 + 33, 2);
        img()->setValue(CZunStatusBuffer::DSP1Offset / 2 + 67, 3);
        QVERIFY(img()->AreDSPBlocksEqual());
        img()->setValue(CZunStatusBuffer::DSP1Offset / 2 + 68, 3);
        QVERIFY(!img()->AreDSPBlocksEqual());
        img()->setValue(CZunStatusBuffer::DSP0Offset / 2 + 68, 3);
        img()->setValue(CZunStatusBuffer::DSP0Offset / 2 + 749, 9);
        QVERIFY(!img()->AreDSPBlocksEqual());
    }

    void linkingWhileDisconnectedIsRefused()
    {
        const QByteArray before = img()->toByteArray();
        try {
            img()->SetLinked(true);
            QFAIL("linked while disconnected");
        } catch (const std::logic_error& e) {
            QVERIFY(QString(e.what()).contains(QStringLiteral("not connected")));
        }
        QVERIFY_EXCEPTION_THROWN(img()->SetLinked(false), std::logic_error);
        QCOMPARE(img()->toByteArray(), before);
        QVERIFY(m_sent.groups().isEmpty());
    }

    // Every thread ends with the device object, and each manager goes only after the
    // link's connections to it were cut: nothing the link reports reaches a manager while
    // it is being destroyed.
    void destructionStopsEveryThread()
    {
        QPointer<QThread> imageThread = img()->thread();
        QPointer<ZunBaseComm> link = m_zun->GetLink();
        QVERIFY(imageThread->isRunning());
        QStringList reached;
        const QList<QPair<QObject*, QString>> managers{{m_zun->GetSetupManager(), QStringLiteral("setups")},
                                                       {m_zun->GetFIRLimManager(), QStringLiteral("FIR sets")},
                                                       {m_zun->GetDSPProgramManager(), QStringLiteral("DSP programs")}};
        for (const auto& [manager, name] : managers)
            connect(manager, &QObject::destroyed, [&reached, link, name = name](QObject* gone) {
                if (QObject::disconnect(link, nullptr, gone, nullptr))
                    reached << name;
            });
        m_zun.reset();
        QVERIFY(imageThread.isNull());
        QVERIFY(link.isNull());
        QVERIFY2(reached.isEmpty(), qPrintable(reached.join(QStringLiteral(", "))));
    }

    // Block writes failing (not sent) while the device object goes away: the link's
    // forwarder of failed blocks reaches no manager that is being destroyed.
    void destructionWhileBlockWritesFail()
    {
        ZunLogCapture log;
        const CZunMetaCmd block(0xFF00, 8, QByteArray(8, 'b'));
        for (int round = 0; round < 20; ++round) {
            for (int i = 0; i < 300; ++i)
                m_zun->SendMetaCmd(block);
            m_zun.reset();
            QVERIFY2(!log.logged(QStringLiteral("No such method")), qPrintable(QString::number(round)));
            init();
        }
    }

    void waitKeepsEventsMoving()
    {
        bool fired = false;
        QTimer::singleShot(0, this, [&]() { fired = true; });
        QVERIFY(ZunWaitMs(0) >= 0);
        QVERIFY(fired);
        QVERIFY(ZunWaitMs(20) >= 20);
    }

    // A caller waits for a worker's slot wherever the worker lives: in another thread as
    // blocking queued, in the caller's own at once (blocking queued would wait on itself).
    void waitingCallsInAnyThread_data()
    {
        QTest::addColumn<bool>("ownThread");
        QTest::newRow("worker in another thread") << true;
        QTest::newRow("worker in the caller's thread") << false;
    }

    void waitingCallsInAnyThread()
    {
        QFETCH(bool, ownThread);
        QThread thread;
        const auto stop = qScopeGuard([&thread]() {
            thread.quit();
            thread.wait();
        });
        QObject sender, worker;
        if (ownThread) {
            thread.start();
            worker.moveToThread(&thread);
        }
        QThread* ranIn = nullptr;
        zunConnectWaiting(&sender, &QObject::objectNameChanged, &worker, &QObject::setObjectName);
        QObject::connect(&worker, &QObject::objectNameChanged, &worker,
                         [&ranIn]() { ranIn = QThread::currentThread(); }, Qt::DirectConnection);
        sender.setObjectName(QStringLiteral("by signal"));
        QCOMPARE(worker.objectName(), QStringLiteral("by signal"));
        QCOMPARE(ranIn, worker.thread());
        QMetaObject::invokeMethod(
            &worker, [&worker]() { worker.setObjectName(QStringLiteral("by call")); }, zunWaitingCall(&worker));
        QCOMPARE(worker.objectName(), QStringLiteral("by call"));
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
