// Maintenance, front-panel and delay commands, and the device services' long operations,
// against emulated processors through the real link on loopback.
#include "TcpSimProcess.h"
#include "CCmdMapServer.h"
#include "CMemoryManager.h"
#include "CZunServer.h"
#include "ZunFirmwareUpdate.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "ZunDSPProgramManager.h"
// The emulator process helper of the protocol tests.
#include "ZunBaseComm.h"
#include "ZunUdpDatagram.h"
#include "DeviceTestRig.h"
#include "ZunLogCapture.h"
#include "ZunSignalSpy.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>

using namespace DeviceTestRig;

class TestCommandsE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;

    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }

    void start(quint16 fw, quint16 serial = 42)
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start(QStringList{"--serial", QString::number(serial), "--firmware", QString::number(fw)}),
                 qPrintable(m_sim->error()));
        m_zun.reset(new CZun(record(fw, serial), map(fw), QSharedPointer<CRoutingLibrary>()));
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.clear();
        m_sent.attach(m_zun.get());
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->connect(true);
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }

    void settle()
    {
        QVERIFY(waitUntil([&]() { return m_zun->GetLink()->getCmdBuffer()->isIdle(); }));
        QTest::qWait(30);
    }

    // One field of the emulator's state line ("state firmware 1080 pin 0x1234 ...").
    static QString field(const QString& state, const QString& name)
    {
        const QStringList w = state.split(QLatin1Char(' '));
        const int i = w.indexOf(name);
        if (name == QLatin1String("name"))
            return i < 0 ? QString() : w.mid(i + 1).join(QLatin1Char(' '));
        return w.value(i + 1);
    }
    static QString state(TcpSimProcess& sim) { return sim.query(QStringLiteral("state"), QStringLiteral("state ")); }

    // The processor's announce, as the discovery reads it.
    static bool announce(const TcpSimProcess& sim, ZunUdpDatagram::Announce* out)
    {
        QUdpSocket socket;
        if (!socket.bind(QHostAddress(QHostAddress::LocalHost), 0))
            return false;
        socket.writeDatagram(ZunUdpDatagram::ping(), QHostAddress::LocalHost, sim.udpPort());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            if (!socket.hasPendingDatagrams())
                socket.waitForReadyRead(50);
            while (socket.hasPendingDatagrams())
                if (ZunUdpDatagram::decodeAnnounce(socket.receiveDatagram().data(), out))
                    return true;
        }
        return false;
    }

    static QString firmwareFile(const QTemporaryDir& dir, int size)
    {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7 + 3);
        const QString path = dir.filePath(QStringLiteral("zun.bin"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != size)
            return QString();
        return path;
    }

private slots:
    void initTestCase() { m_config.reset(new Config); }

    void cleanup()
    {
        m_zun.reset();
        m_sim.reset();
    }

    // Three pieces, the check, the new version's announce and the re-initialisation.
    void firmwareUploadedPieceByPieceThenReInit()
    {
        start(1080);
        QTemporaryDir dir;
        const QString file = firmwareFile(dir, 2 * 16384 + 1001);
        QVERIFY(!file.isEmpty());
        QVERIFY(m_sim->control(QStringLiteral("nextfirmware 1079")));
        ZunSignalSpy checked(img(), &CZunStatusBuffer::signal_FirmwareCheckFinished);
        m_zun->UpdateFirmware(file);
        QVERIFY(!m_zun->IsTcpCheckOn());
        QVERIFY(checked.count() > 0 || checked.wait(20000));
        QCOMPARE(checked.first().at(0).toBool(), true);
        settle();
        ZunUdpDatagram::Announce a;
        QVERIFY(announce(*m_sim, &a));
        QCOMPARE(a.firmware(), quint16(1079));

        m_zun->ReInit(record(a.firmware(), 42, 0, 0, a.routingWord), map(a.firmware()),
                      QSharedPointer<CRoutingLibrary>());
        QCOMPARE(m_zun->GetFirmwareVersion(), quint16(1079));
        QCOMPARE(m_zun->GetCmdMap()->version(), quint16(1079));
        // The link still answers: a read-back of the image arrives.
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->RefreshStatusBuffer();
        QVERIFY(status.count() > 0 || status.wait(20000));
    }

    // A firmware change while a DSP program is on its way to the flash (0.3 s a reply):
    // the GUI thread answers at once, the managers go on reading the command map from
    // their threads while it is replaced, and the upload ends as it would have.
    void firmwareChangeDuringProgramUpload()
    {
        start(1080);
        QVERIFY(settleFirstSet(m_zun.get()));
        const quint16 program = 0x0249;
        QVERIFY(!m_zun->GetMemoryManager()->hasDSPProgramId(program));
        std::atomic<bool> ended{false};
        const QMetaObject::Connection c = QObject::connect(
            img(), &CZunStatusBuffer::signal_DSPProgUploaded, img(), [&ended]() { ended = true; }, Qt::DirectConnection);
        QVERIFY(m_sim->control(QStringLiteral("delay 300")));
        m_zun->UploadDSPProgram(program);
        int answered = -1; // 1: while the upload still ran
        QTimer::singleShot(0, this, [&]() { answered = ended ? 0 : 1; });
        for (int i = 0; i < 3; ++i) {
            // The setup manager names the active setup meanwhile, through the map.
            QMetaObject::invokeMethod(m_zun->GetSetupManager(), "initialize", Qt::QueuedConnection);
            m_zun->ReInit(record(1080, 42), map(1080), QSharedPointer<CRoutingLibrary>());
        }
        QTRY_VERIFY_WITH_TIMEOUT(answered >= 0, 30000);
        QCOMPARE(answered, 1);
        QVERIFY(waitUntil([&]() { return bool(ended); }, 60000));
        QObject::disconnect(c);
        QVERIFY(m_sim->control(QStringLiteral("delay 0")));
        QVERIFY(settleTransfers(m_zun.get()));
        m_zun->RefreshMemDir();
        QVERIFY(waitUntil([&]() { return m_zun->GetMemoryManager()->hasDSPProgramId(program); }));
        QVERIFY(m_zun->GetDSPProgramManager()->programs().contains(ZunDSPProgramInfo(program, 1080)));
        QCOMPARE(m_zun->GetDSPProgramManager()->pendingUploads(), 0);
    }

    void eraseBringsTheKeepAliveBackAndRereads()
    {
        start(1080);
        ZunSignalSpy erased(m_zun.get(), &CZun::signal_FlashMemErased);
        ZunSignalSpy dir(m_zun->GetMemoryManager(), &CMemoryManager::signal_MemDirChanged);
        m_zun->EraseFlashMemory();
        QVERIFY(!m_zun->IsTcpCheckOn());
        QVERIFY(erased.count() > 0 || erased.wait(20000));
        QCOMPARE(erased.first().at(0).toBool(), true);
        QVERIFY(m_zun->IsTcpCheckOn());
        QVERIFY(dir.count() > 0 || dir.wait(20000));
        QVERIFY(m_sent.contains(72, 0));
    }

    void pinChangesInTwoSteps()
    {
        start(1080);
        QCOMPARE(field(state(*m_sim), "pin"), QStringLiteral("0x1234"));
        // A wrong old PIN changes nothing.
        m_zun->SetPin(0x4321u | 0x5678u << 16, 0x5678);
        settle();
        QCOMPARE(field(state(*m_sim), "pin"), QStringLiteral("0x1234"));
        m_zun->SetPin(0x1234u | 0x5678u << 16, CZun::pinWord(5, 6, 7, 8));
        QVERIFY(waitUntil([&]() { return field(state(*m_sim), "pin") == QLatin1String("0x5678"); }));
    }

    // The new PIN goes to the processor once, for the change asked, and neither PIN ever
    // reaches the debug output or the device log: not when a step is refused, not when
    // it goes unanswered.
    void pinIsSentOnceAndNeverShown()
    {
        start(1080);
        const quint16 pinNr = nr("Cmd_Pin");
        m_zun->SetPin(0x1234u | 0x7316u << 16, 0x7316);
        QVERIFY(waitUntil([&]() { return field(state(*m_sim), "pin") == QLatin1String("0x7316"); }));
        settle();

        // Someone else's first step with the right PIN: the processor says "old PIN
        // correct", and the program has no change of its own to send.
        m_sent.clear();
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        m_zun->SendCmd(pinNr, 0x7316);
        settle();
        QCOMPARE(m_sent.count(pinNr), 1);
        QCOMPARE(log.count(), 0);

        ZunLogCapture captured;
        auto seen = [&](const QString& text) {
            if (captured.logged(text, Qt::CaseInsensitive))
                return true;
            for (const QVariantList& entry : qAsConst(log))
                if (entry.at(0).toString().contains(text, Qt::CaseInsensitive))
                    return true;
            return false;
        };
        QVERIFY(m_sim->control(QStringLiteral("refuse %1 0x5678").arg(pinNr)));
        m_zun->SendCmd(pinNr, 0x0000); // leaves the processor's accepted state
        settle();
        m_zun->SetPin(0x7316u | 0x5678u << 16, 0x5678); // the second step is refused
        QVERIFY(waitUntil([&]() { return log.count() >= 2; }));
        settle();
        QCOMPARE(field(state(*m_sim), "pin"), QStringLiteral("0x7316"));
        QVERIFY(m_sim->control(QStringLiteral("silent")));
        m_zun->SetPin(0x7316u | 0x5678u << 16, 0x5678); // the first step goes unanswered
        QVERIFY(waitUntil([&]() { return captured.logged(QStringLiteral("not answered"), Qt::CaseInsensitive); }, 30000));
        QVERIFY(seen(QStringLiteral("refused")));
        for (const char* pin : {"7316", "29462", "16 73", "5678", "22136", "78 56"})
            QVERIFY2(!seen(QLatin1String(pin)), pin);
    }

    void nameKeyLockAndAddressReachTheProcessor()
    {
        start(1080);
        const QString name = QStringLiteral("B\u00FChne links");
        m_zun->SaveDeviceName(name);
        m_zun->SetKeyLock(true);
        m_zun->SetIP(QHostAddress(QStringLiteral("192.168.1.15")).toIPv4Address());
        settle();
        // The lower half follows the processor's answer to the upper one.
        QVERIFY(waitUntil([&]() { return field(state(*m_sim), "nextip") == QLatin1String("192.168.1.15"); }));
        const QString s = state(*m_sim);
        QCOMPARE(field(s, "keylock"), QStringLiteral("1"));
        ZunUdpDatagram::Announce a;
        QVERIFY(announce(*m_sim, &a));
        QCOMPARE(a.name, name);
        QVERIFY(waitUntil([&]() { return m_zun->IsKeyLocked(); }));
    }

    void delaysUpToTheBoundAndNotBeyond()
    {
        start(1080);
        const CZunDelay bound = m_zun->GetMaxAvailableChannelDelay(ZunC::Output2);
        QVERIFY(bound.seconds() > 0.01);
        ZunSignalSpy reported(m_zun.get(), &CZun::signal_ChannelDelay);
        m_zun->SetChannelDelay(bound, ZunC::Output2);
        const quint16 raw = quint16(bound.seconds() * 96000 + 0.5);
        QVERIFY(waitUntil([&]() { return img()->getValue(nr("Cmd_0_ChDelay2")) == raw; }));

        const CZunDelay over = CZunDelay::fromSeconds(bound.seconds() + 0.001);
        try {
            m_zun->SetChannelDelay(over, ZunC::Output2);
            QFAIL("accepted");
        } catch (const std::logic_error& e) {
            QVERIFY(QString(e.what()).startsWith(QStringLiteral("Delay value of %1 ms is out of bounds. Valid values are up to ")
                                                     .arg(over.milliseconds(), 0, 'g')));
        }
        settle();
        QCOMPARE(img()->getValue(nr("Cmd_0_ChDelay2")), raw);

        // The master delay's bound shrinks by the longest chain of its DSP.
        const CZunDelay master = m_zun->GetMaxAvailableMasterDelay(1);
        QVERIFY(master.seconds() <= m_zun->GetMasterDelayLimit().seconds() - bound.seconds() + 1e-6);
        QVERIFY_EXCEPTION_THROWN(m_zun->SetMasterDelay(1, CZunDelay::fromSeconds(master.seconds() + 0.01)),
                                 std::logic_error);
        m_zun->SetMasterDelay(1, master);
        const quint16 rawMaster = quint16(master.seconds() * 24000 + 0.5);
        QVERIFY(waitUntil([&]() { return img()->getValue(nr("Cmd_0_MasterDelay")) == rawMaster; }));
    }

    // The device server's firmware update over a list: each processor reports its own
    // check; the unreachable one is reported and skipped.
    void firmwareUpdateOverThreeProcessorsOneUnreachable()
    {
        TcpSimProcess a, b;
        QVERIFY2(a.start({"--serial", "61", "--firmware", "1080"}), qPrintable(a.error()));
        QVERIFY2(b.start({"--serial", "62", "--firmware", "1080"}), qPrintable(b.error()));
        QVERIFY(a.control(QStringLiteral("nextfirmware 1079")));
        QVERIFY(b.control(QStringLiteral("nextfirmware 1078")));
        const RefusingPort dead;
        QVERIFY(dead.port() != 0);
        CZunServer server;
        CCmdMapServer maps;
        server.setConnectPolls(10);
        QStringList reports;
        connect(&server, &CZunServer::signal_information, this, [&](QString, QString t) { reports << t; });
        QList<QSharedPointer<ZunSignalSpy>> checks;
        const QList<quint16> ports = {a.tcpPort(), b.tcpPort(), dead.port()};
        for (int i = 0; i < 3; ++i) {
            const quint16 serial = quint16(61 + i);
            server.newCZun(record(1080, serial), maps.getMap(1080), QSharedPointer<CRoutingLibrary>());
            server.getZun(serial)->SetPort(ports[i]);
            server.getZun(serial)->GetFirmwareUpdate()->setFinishDelayMs(200);
            checks << QSharedPointer<ZunSignalSpy>::create(server.getZun(serial)->GetStatusBuffer(),
                                                         &CZunStatusBuffer::signal_FirmwareCheckFinished);
        }
        QTemporaryDir dir;
        const QString file = firmwareFile(dir, 16384 + 77);
        server.doFirmwareUpdate({61, 62, 63}, file);
        QVERIFY(waitUntil([&]() { return checks[0]->count() > 0 && checks[1]->count() > 0; }));
        QCOMPARE(checks[0]->first().at(0).toBool(), true);
        QCOMPARE(checks[1]->first().at(0).toBool(), true);
        QCOMPARE(checks[2]->count(), 0);
        // Mended: the end of an update from the list was never told. One report at its end.
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports[0], QStringLiteral("Could not connect to Zun nr 63"));
        QVERIFY2(reports[1].contains(QStringLiteral("done on 2 of 2")), qPrintable(reports[1]));
        QCOMPARE(field(state(a), "firmware"), QStringLiteral("1079"));
        QCOMPARE(field(state(b), "firmware"), QStringLiteral("1078"));
        // Mended: the update left them connected, without keep-alive. The links it made go.
        QVERIFY(!server.getZun(61)->IsConnected());
        QVERIFY(!server.getZun(62)->IsConnected());
    }
};

QTEST_MAIN(TestCommandsE2E)
#include "tst_commands_e2e.moc"
