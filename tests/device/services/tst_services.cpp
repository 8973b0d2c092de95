// The device services: the command-map cache, the device registry, and the long
// operations' own failure handling (unreachable processors, a FIR/limiter manager that
// never gets ready), the reports reaching the GUI thread.
#include "TcpSimProcess.h"
#include "CCmdMapServer.h"
#include "CRoutingLibrary.h"
#include "CZunServer.h"
#include "ZunBaseComm.h"
#include "ZunMetaTypes.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtTest>

using namespace DeviceTestRig;

class TestServices : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;

    static QSharedPointer<ZunDeviceStats> rec(quint16 serial, quint16 firmware = 1080)
    {
        return record(firmware, serial, 0, 0x0F80);
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        registerZunMetaTypes();
    }

    void metaTypesAreRegistered()
    {
        for (const char* name : {"CZunOutput*", "CZunInput*", "CZunAbstractInOutput*", "CZunBiquad*",
                                 "CZunHighOrderFilter*", "QList<quint32>", "QSharedPointer<ZunDeviceStats>",
                                 "QSharedPointer<CRoutingLibrary>", "QSharedPointer<AudioIOStatus>", "ZunDSPProgramInfo"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
    }

    void oneMapPerFirmware()
    {
        CCmdMapServer server;
        const auto zero = server.getMap(0);
        QVERIFY(zero);
        QCOMPARE(zero->version(), quint16(0));
        const auto a = server.getMap(1078);
        QCOMPARE(a->version(), quint16(1078));
        QCOMPARE(server.getMap(1078), a);
        QVERIFY(server.getMap(1077) != a);
        server.newCmdMap(rec(5, 1076));
        ZunSignalSpy served(&server, &CCmdMapServer::serveMap);
        server.onMapRequest(1076);
        QCOMPARE(served.size(), 1);
        QCOMPARE(served[0][1].value<QSharedPointer<CCmdMap>>()->version(), quint16(1076));
        QCOMPARE(served[0][1].value<QSharedPointer<CCmdMap>>(), server.getMap(1076));
    }

    void registryBySerial()
    {
        CZunServer server;
        CCmdMapServer maps;
        auto m = maps.getMap(1080);
        auto lib = QSharedPointer<CRoutingLibrary>::create(m);
        server.newCZun(rec(0x0102), m, lib);
        const QPointer<CZun> first = server.getZun(0x0102).data();
        QVERIFY(first);
        QCOMPARE(first->GetNr(), 0x0102);
        QCOMPARE(first->GetCmdMap(), m);
        QCOMPARE(first->GetIpAddress(), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(!server.getZun(7));

        ZunSignalSpy hw(&server, &CZunServer::hardwareInfoUpdated);
        emit first->signal_HardwareInfoUpdated(0x0102, CZunHardwareInfo(0x0F80));
        QCOMPARE(hw.size(), 1);

        // The same serial again replaces the entry; the old object goes when nobody holds it.
        server.newCZun(rec(0x0102), m, lib);
        QVERIFY(server.getZun(0x0102).data() != first.data());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
        QCOMPARE(server.serials(), (QList<quint16>{0x0102}));

        // A firmware change re-initialises the registered object with the new map.
        ZunSignalSpy failed(server.getZun(0x0102).data(), &CZun::signal_exception);
        server.updateFirmwareVersion(rec(0x0102, 1079), maps.getMap(1079), lib);
        QCOMPARE(failed.size(), 0);
        QCOMPARE(server.getZun(0x0102)->GetFirmwareVersion(), quint16(1079));
        QCOMPARE(server.getZun(0x0102)->GetCmdMap(), maps.getMap(1079));
        server.updateFirmwareVersion(rec(0x0777, 1079), maps.getMap(1079), lib); // not registered: nothing
    }

    // The server works in its manager thread; what it has to tell the operator arrives in
    // the GUI thread. A firmware update reports an unreachable processor like the others.
    void unreachableProcessorsAreReportedInTheGuiThread()
    {
        CZunServer* server = new CZunServer;
        CCmdMapServer maps;
        auto m = maps.getMap(1080);
        server->newCZun(rec(0x0001), m, QSharedPointer<CRoutingLibrary>());
        // Nothing listens on this port of loopback: every connection attempt is refused.
        server->getZun(0x0001)->SetPort(9);
        server->setConnectPolls(3);
        QThread thread;
        server->moveToThread(&thread);
        thread.start();

        QStringList texts;
        QList<QThread*> threads;
        connect(server, &CZunServer::signal_information, this, [&](QString caption, QString text) {
            QCOMPARE(caption, QStringLiteral("ZunControl Network Error"));
            texts << text;
            threads << QThread::currentThread();
        });
        QMetaObject::invokeMethod(server, "doFirmwareUpdate", Qt::QueuedConnection,
                                  Q_ARG(QList<quint32>, (QList<quint32>{0x0001, 0x0033})), Q_ARG(QString, "fw.bin"));
        QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 2, 20000);
        QCOMPARE(texts, (QStringList{QStringLiteral("Could not connect to Zun nr 1"), QStringLiteral("No Zun nr 51 registered")}));
        QCOMPARE(threads, (QList<QThread*>{QThread::currentThread(), QThread::currentThread()}));

        QMetaObject::invokeMethod(server, "deleteLater");
        thread.quit();
        QVERIFY(thread.wait(20000));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // An upload to a processor that is already connected uses the link as it is (no
    // keep-alive change, no reconnection) and disconnects it at the end.
    void uploadUsesAnOpenLinkAndDisconnects()
    {
        TcpSimProcess sim;
        QVERIFY2(sim.start({"--serial", "8", "--firmware", "1080"}), qPrintable(sim.error()));
        CZunServer server;
        CCmdMapServer maps;
        server.newCZun(rec(8), maps.getMap(1080), QSharedPointer<CRoutingLibrary>());
        const QSharedPointer<CZun> zun = server.getZun(8);
        zun->SetPort(sim.tcpPort());
        ZunSignalSpy connected(zun.data(), &CZun::signal_Connected);
        ZunSignalSpy image(zun.data(), &CZun::signal_ZunStatusChanged);
        zun->connect();
        QVERIFY(image.count() > 0 || image.wait(20000));
        QVERIFY(waitUntil([&]() { return zun->GetLink()->getCmdBuffer()->isIdle(); }));
        SendLog sent;
        sent.attach(zun.get());
        server.setReadyTimeoutMs(300);
        server.doSetupUpload({8}, QStringLiteral("setup.zsu"), 2);
        QVERIFY(!sent.contains(zun->GetCmdMap()->getCmdNr("Cmd_TCPCloseTime"), 0));
        QCOMPARE(connected.size(), 1);
        QVERIFY(!zun->IsConnected());
    }

    // A connected processor whose FIR/limiter manager is not ready in time: the selection
    // ends with a clear report (or the device's own error once the operation runs), never
    // hangs, and the processor is disconnected at the end.
    void setupSelectionCannotHang()
    {
        TcpSimProcess sim;
        QVERIFY2(sim.start({"--serial", "9", "--firmware", "1080"}), qPrintable(sim.error()));
        CZunServer server;
        CCmdMapServer maps;
        server.newCZun(rec(9), maps.getMap(1080), QSharedPointer<CRoutingLibrary>());
        const QSharedPointer<CZun> zun = server.getZun(9);
        zun->SetPort(sim.tcpPort());
        server.setReadyTimeoutMs(500);
        QStringList reports;
        connect(&server, &CZunServer::signal_information, this, [&](QString, QString t) { reports << t; });
        connect(zun.data(), &CZun::signal_exception, this, [&](QString t, QString) { reports << t; });

        server.doSelectSetup({9}, 3);
        QVERIFY(!zun->IsConnected());
        QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty(), 10000);
        QVERIFY2(reports.first() == QStringLiteral("Zun nr 9 did not get ready for the operation (no FIR/limiter data).")
                     || reports.first().contains(QStringLiteral("SelectSetup"))
                     || reports.first().contains(QStringLiteral("no valid setup at this position")),
                 qPrintable(reports.first()));
    }
};

QTEST_MAIN(TestServices)
#include "tst_services.moc"
