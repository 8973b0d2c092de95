// A processor's address on a private network (see ZunNetnsRig.h): one that moves to
// another address is reached there at the next connect; while a link is connected, an
// announce of its serial from another host is a duplicate serial and changes nothing.
// Needs root; skips otherwise.
#include "CCmdMapServer.h"
#include "CZunNetwork.h"
#include "CZunServer.h"
#include "RoutingServer.h"
#include "ZunMetaTypes.h"
#include "ZunLogCapture.h"
#include "ZunNetnsRig.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtTest>

class TstReaddressNetns : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeviceTestRig::Config> m_config;
    std::unique_ptr<ZunNetnsRig> m_rig;
    std::unique_ptr<CZunNetwork> m_net;
    std::unique_ptr<CCmdMapServer> m_maps;
    std::unique_ptr<RoutingServer> m_routing;
    std::unique_ptr<CZunServer> m_server;

    // Discovery and the device server, wired as the main window wires them.
    void startDiscovery()
    {
        m_maps = std::make_unique<CCmdMapServer>();
        m_routing = std::make_unique<RoutingServer>();
        m_server = std::make_unique<CZunServer>();
        m_net = std::make_unique<CZunNetwork>();
        connect(m_net.get(), &CZunNetwork::zunDetected, m_maps.get(), &CCmdMapServer::newCmdMap);
        connect(m_net.get(), &CZunNetwork::zunDetected, this, [this](QSharedPointer<ZunDeviceStats> stats) {
            const auto map = m_maps->getMap(stats->firmware());
            m_server->newCZun(stats, map, m_routing->getLibrary(stats->firmware(), map));
        });
        m_net->start();
        QMetaObject::invokeMethod(m_net.get(), "startBroadcasting", Qt::QueuedConnection);
    }

    static bool connectAndRead(const QSharedPointer<CZun>& z)
    {
        ZunSignalSpy status(z.data(), &CZun::signal_ZunStatusChanged);
        z->connect();
        return status.wait(30000) && z->IsConnected();
    }

private slots:
    void initTestCase()
    {
        if (!ZunNetnsRig::privateNetnsReady())
            QSKIP(qPrintable(ZunNetnsRig::notReadyReason()));
        m_config.reset(new DeviceTestRig::Config);
        registerZunMetaTypes();
    }
    void init()
    {
        m_rig = std::make_unique<ZunNetnsRig>();
        QString why;
        QVERIFY2(m_rig->setUp(&why), qPrintable(why));
    }
    void cleanup()
    {
        m_net.reset();
        m_server.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_rig.reset();
    }

    void movedProcessorIsReachedAtItsNewAddress()
    {
        QString why;
        QVERIFY2(m_rig->startSim(0x0301, {"--firmware", "1080"}, &why), qPrintable(why));
        startDiscovery();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->getZun(0x0301), 15000);
        const QSharedPointer<CZun> z = m_server->getZun(0x0301);
        QVERIFY(connectAndRead(z));

        // The link ends (the processor restarts with its new address), the processor moves.
        z->disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(!z->IsConnected(), 10000);
        const QHostAddress moved(QStringLiteral("10.77.0.99"));
        QVERIFY2(m_rig->moveSim(0x0301, moved, &why), qPrintable(why));
        const auto record = m_net->findDevice(0x0301);
        QTRY_COMPARE_WITH_TIMEOUT(record->getIpAddress(), moved, 15000);

        QVERIFY(connectAndRead(z));
        QCOMPARE(z->GetIpAddress(), moved);
    }

    void announceFromAnotherHostForAConnectedSerialChangesNothing()
    {
        QString why;
        ZunNetnsRig::Sim* own = m_rig->startSim(0x0302, {"--firmware", "1080"}, &why);
        QVERIFY2(own, qPrintable(why));
        // A second host with the same serial and another firmware, quiet for now.
        ZunNetnsRig::Sim* other = m_rig->startSim(0x0302, {"--firmware", "1079", "--no-broadcast-answer"}, &why);
        QVERIFY2(other, qPrintable(why));
        startDiscovery();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->getZun(0x0302), 15000);
        const QSharedPointer<CZun> z = m_server->getZun(0x0302);
        const auto record = m_net->findDevice(0x0302);
        QCOMPARE(record->getIpAddress(), own->address);
        QVERIFY(connectAndRead(z));

        ZunSignalSpy firmware(m_net.get(), &CZunNetwork::firmwareChanged);
        ZunSignalSpy disconnected(z.data(), &CZun::signal_Disconnected);
        ZunLogCapture log;
        other->process->write("nobroadcast off\n");
        QVERIFY(other->process->waitForBytesWritten(5000));
        const QString line = QStringLiteral("duplicate serial %1").arg(0x0302);
        QTRY_VERIFY_WITH_TIMEOUT(log.logged(line), 15000);
        QVERIFY(log.logged(other->address.toString()));

        QCOMPARE(record->getIpAddress(), own->address);
        QCOMPARE(record->firmware(), quint16(1080));
        QCOMPARE(firmware.count(), 0);
        QCOMPARE(disconnected.count(), 0);
        QVERIFY(z->IsConnected());
        QCOMPARE(z->GetIpAddress(), own->address);
        QCOMPARE(m_server->getZun(0x0302), z);
    }
};

ZUN_NETNS_TEST_MAIN(TstReaddressNetns)

#include "tst_readdress_netns.moc"
