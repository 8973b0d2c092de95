// The device services against emulated processors on a private network (see
// ZunNetnsRig.h): discovery -> command maps -> device objects by serial, the routing
// read-back through the routing manager, status streams into audio-status records and
// the master mute over all processors. Needs root; skips otherwise.
#include "AudioIOStatusServer.h"
#include "CCmdMapServer.h"
#include "CRoutingManager.h"
#include "CZunInput.h"
#include "CZunNetwork.h"
#include "CZunServer.h"
#include "CZunStatusBuffer.h"
#include "RoutingServer.h"
#include "ZunMetaTypes.h"
#include "ZunNetnsRig.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtTest>

namespace {
struct Proc
{
    quint16 serial;
    int firmware;
};
// One of the 106-byte status layout, two of the 108-byte one.
const QList<Proc> Procs{{0x0101, 1076}, {0x0102, 1077}, {0x0203, 1080}};
const quint16 Word41 = 0x21 | (0x43 << 7); // RP_41 + IR_41
} // namespace

class TstServicesNetns : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeviceTestRig::Config> m_config;
    ZunNetnsRig m_rig;
    std::unique_ptr<CZunNetwork> m_net;
    std::unique_ptr<CCmdMapServer> m_maps;
    std::unique_ptr<RoutingServer> m_routing;
    std::unique_ptr<CZunServer> m_server;
    std::unique_ptr<AudioIOStatusServer> m_status;

    QSharedPointer<CZun> zun(quint16 serial) const { return m_server->getZun(serial); }

    void connectAndRead(const QSharedPointer<CZun>& z)
    {
        ZunSignalSpy status(z.data(), &CZun::signal_ZunStatusChanged);
        z->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
    }

private slots:
    void initTestCase()
    {
        if (!ZunNetnsRig::privateNetnsReady())
            QSKIP(qPrintable(ZunNetnsRig::notReadyReason()));
        m_config.reset(new DeviceTestRig::Config);
        registerZunMetaTypes();
        QString why;
        QVERIFY2(m_rig.setUp(&why), qPrintable(why));
        for (const Proc& p : Procs)
            QVERIFY2(m_rig.startSim(p.serial, {"--firmware", QString::number(p.firmware), "--hardware", "0x0F80"}, &why),
                     qPrintable(why));
        m_maps = std::make_unique<CCmdMapServer>();
        m_routing = std::make_unique<RoutingServer>();
        m_server = std::make_unique<CZunServer>();
        m_status = std::make_unique<AudioIOStatusServer>();
        m_net = std::make_unique<CZunNetwork>();
        // As the main window wires them.
        connect(m_net.get(), &CZunNetwork::zunDetected, m_maps.get(), &CCmdMapServer::newCmdMap);
        connect(m_net.get(), &CZunNetwork::zunDetected, this, [this](QSharedPointer<ZunDeviceStats> stats) {
            const auto map = m_maps->getMap(stats->firmware());
            m_server->newCZun(stats, map, m_routing->getLibrary(stats->firmware(), map));
            m_status->addStatus(stats->serial(), map, stats->routingWord());
        });
        connect(m_net.get(), &CZunNetwork::zunStatusBatchReceived, m_status.get(), &AudioIOStatusServer::setStatusBatch);
        connect(m_net.get(), &CZunNetwork::routingChanged, m_status.get(),
                QOverload<QSharedPointer<ZunDeviceStats>>::of(&AudioIOStatusServer::onRoutingChanged));
        connect(m_net.get(), &CZunNetwork::timeoutTcpCheck, m_server.get(), &CZunServer::triggerTcpCheck);
        m_net->start();
        QMetaObject::invokeMethod(m_net.get(), "startBroadcasting", Qt::QueuedConnection);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->serials().size(), 3, 15000);
    }

    void cleanupTestCase()
    {
        m_net.reset();
        m_server.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_rig.tearDown();
    }

    void deviceObjectsBySerialWithTheirFirmwaresMap()
    {
        for (const Proc& p : Procs) {
            const auto z = zun(p.serial);
            QVERIFY(z);
            QCOMPARE(z->GetNr(), int(p.serial));
            QCOMPARE(z->GetCmdMap()->version(), quint16(p.firmware));
            QCOMPARE(z->GetCmdMap(), m_maps->getMap(p.firmware));
            QCOMPARE(z->GetIpAddress(), m_rig.sim(p.serial)->address);
            QCOMPARE(z->GetHardwareInfo().analogOutputCount(), 8);
        }
    }

    void routingWordGoesOutAndComesBack()
    {
        const auto z = zun(0x0203);
        connectAndRead(z);
        CRoutingManager* rm = z->GetRoutingManager();
        QCOMPARE(rm->lastRoutingWord(), quint16(0x1191));
        QCOMPARE(rm->GetInputs().size(), 2);

        const auto lib = z->GetRoutingLibrary();
        const CZunRoutingWord w(Word41);
        CZunRoutingPreset routing;
        for (const auto& r : lib->GetRoutingPresets())
            if (r.getNumber() == w.rpNumber)
                routing = r;
        CZunInputPreset input = lib->FindInputPreset(Word41);
        QCOMPARE(input.getNumber(), w.irNumber);
        rm->SetRouting(routing, input);

        // The reply reads the image back, and the rebuild follows it.
        QTRY_COMPARE_WITH_TIMEOUT(rm->lastRoutingWord(), Word41, 20000);
        QCOMPARE(z->GetStatusBuffer()->getValue(z->GetCmdMap()->getCmdNr("Cmd_SPI_Routing")), Word41);
        QCOMPARE(z->GetStatusBuffer()->getValue(z->GetCmdMap()->getCmdNr("Cmd_DSP_Routing")), Word41);
        QCOMPARE(rm->GetInputs().size(), 4);
        QCOMPARE(rm->GetSPIRouting().getNumber(), w.rpNumber);
        QVERIFY(rm->GetInput(3));
        // The processor announces its new routing; the audio status follows.
        QTRY_COMPARE_WITH_TIMEOUT(m_status->getStatus(0x0203)->GetRouting().getRoutingWord().word, Word41, 20000);
    }

    void threeStatusStreamsFillThreeRecords()
    {
        QList<QSharedPointer<ZunSignalSpy>> spies;
        for (const Proc& p : Procs) {
            spies << QSharedPointer<ZunSignalSpy>::create(m_status->getStatus(p.serial).data(), &AudioIOStatus::refreshed);
            QMetaObject::invokeMethod(m_net.get(), "triggerStatusTx", Qt::QueuedConnection, Q_ARG(quint16, p.serial),
                                      Q_ARG(int, 20));
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(spies.begin(), spies.end(), [](const auto& s) { return s->size() >= 5; }),
                                 15000);
        for (const Proc& p : Procs) {
            const auto s = m_status->getStatus(p.serial);
            QCOMPARE(s->GetRecordSize(), quint32(p.firmware >= 1077 ? 108 : 106));
            QVERIFY(s->GetOutputLevel(0) > -100.0);
            QVERIFY(s->GetInputLevel(1) > -88.5);
            QVERIFY(!s->IsMasterMuted());
        }
    }

    void frontPanelChangeIsReadBack()
    {
        const auto z = zun(0x0203);
        if (!z->IsConnected()) // as the routing's test leaves it
            connectAndRead(z);
        const auto s = m_status->getStatus(0x0203);
        s->attachDevice(z.data());
        const quint16 gain = z->GetCmdMap()->getCmdNr("Cmd_1_ChGain2");
        QVERIFY(m_rig.control(0x0203, QStringLiteral("set %1 %2").arg(gain).arg(-123 & 0xFFFF)));
        QMetaObject::invokeMethod(m_net.get(), "triggerStatusTx", Qt::QueuedConnection, Q_ARG(quint16, 0x0203), Q_ARG(int, 20));
        QTRY_COMPARE_WITH_TIMEOUT(z->GetStatusBuffer()->getValue(gain), quint16(-123 & 0xFFFF), 15000);
    }

    void masterMuteOverAllProcessors()
    {
        ZunSignalSpy changed(m_status.get(), &AudioIOStatusServer::masterMuteStatusChanged);
        auto stream = [this] {
            for (const Proc& p : Procs)
                QMetaObject::invokeMethod(m_net.get(), "triggerStatusTx", Qt::QueuedConnection,
                                          Q_ARG(quint16, p.serial), Q_ARG(int, 20));
        };
        for (const Proc& p : Procs)
            QMetaObject::invokeMethod(m_net.get(), "masterMute", Qt::QueuedConnection, Q_ARG(quint32, p.serial),
                                      Q_ARG(bool, true));
        QTest::qWait(300);
        stream();
        QTRY_VERIFY_WITH_TIMEOUT(m_status->masterMuteStatus(), 15000);
        QCOMPARE(changed.last().at(0).toBool(), true);
        QVERIFY(m_status->getStatus(0x0101)->IsMasterMuted());

        // One processor unmuted: not all are muted any more.
        QMetaObject::invokeMethod(m_net.get(), "masterMute", Qt::QueuedConnection, Q_ARG(quint32, 0x0102), Q_ARG(bool, false));
        QTest::qWait(300);
        stream();
        QTRY_VERIFY_WITH_TIMEOUT(!m_status->masterMuteStatus(), 15000);
        QCOMPARE(changed.last().at(0).toBool(), false);
    }
};

ZUN_NETNS_TEST_MAIN(TstServicesNetns)
#include "tst_services_netns.moc"
