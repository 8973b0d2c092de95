// Device records and the discovery object's handling of announces and status datagrams
// (fed directly, without sockets).
#include "CZunNetwork.h"
#include "ZunDeviceStats.h"
#include "ZunUdpDatagram.h"

#include <QtTest>

namespace {
const QHostAddress Sender(QStringLiteral("10.77.0.11"));

ZunUdpDatagram::Announce announce(quint16 serial)
{
    ZunUdpDatagram::Announce a;
    a.mac = CMacAddr::fromSerial(serial);
    a.versionWord = 1078;
    a.routingWord = 0x1191;
    a.routingByte = 2;
    a.hardwareWord = 0xFF94;
    a.name = QStringLiteral("Stage");
    a.status = 0xFF70;
    a.flags = 1;
    return a;
}
} // namespace

class TstDiscovery : public QObject
{
    Q_OBJECT

    qint64 m_now = 0;

    // A discovery object that is not started: datagrams are fed by hand.
    std::unique_ptr<CZunNetwork> makeNet()
    {
        auto net = std::make_unique<CZunNetwork>();
        net->setClock([this] { return m_now; });
        return net;
    }

private slots:
    void initTestCase() { registerDiscoveryMetaTypes(); registerDiscoveryMetaTypes(); }
    void init() { m_now = 1000; }

    void statusTexts_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<QString>("text");
        QTest::newRow("idle") << 0xFF70 << "ok";
        QTest::newRow("command change") << 0xFF71 << "ok";
        QTest::newRow("error 85") << 0xFF85 << "Err 85";
        QTest::newRow("error a") << 0xFF0A << "Err  a";
        QTest::newRow("no error byte") << 0x0012 << "ok";
    }
    void statusTexts()
    {
        QFETCH(int, word);
        QFETCH(QString, text);
        ZunDeviceStats s;
        s.setStatusWord(quint16(word));
        QCOMPARE(s.statusText(), text);
    }

    void recordTexts()
    {
        ZunDeviceStats s(CMacAddr::fromSerial(263));
        QCOMPARE(s.serial(), quint16(263));
        QCOMPARE(s.getName(), QStringLiteral("Zun Nr. 263"));
        s.setName(QStringLiteral("   "));
        QCOMPARE(s.getName(), QStringLiteral("Zun Nr. 263"));
        s.setName(QStringLiteral(" Left  "));
        QCOMPARE(s.getName(), QStringLiteral("Left"));
        s.setFirmware(1077);
        s.setRevision(1);
        QCOMPARE(s.getFirmwareString(), QStringLiteral("1077.1"));

        s.setFlagsWord(0x0003);
        QCOMPARE(s.clockText(), QStringLiteral("analog"));
        s.setFlagsWord(0x0001);
        QCOMPARE(s.clockText(), QStringLiteral("locked"));
        s.setFlagsWord(0x0000);
        QCOMPARE(s.clockText(), QStringLiteral("not locked"));
        QVERIFY(!s.isFlag6Set());
        s.setFlagsWord(0x0040);
        QVERIFY(s.isFlag6Set());

        s.setIpAddress(QHostAddress(QStringLiteral("10.0.0.5")));
        s.setInterface(3, QStringLiteral("eth1"), QHostAddress(QStringLiteral("10.0.0.1")));
        s.setStatusWord(0xFF85);
        QCOMPARE(s.toolTip(),
                 QStringLiteral("<qt><b>Zun device nr 263</b><br><b>IP address:</b> 10.0.0.5<hr><b>Network information</b><br>"
                                " <b>NIC:</b> 3<br> <b>Adapter:</b> eth1<br> <b>Adapter IP:</b> 10.0.0.1<hr></qt>"
                                "<hr><b>Status:</b> Err 85\n"));
    }

    void recordStream()
    {
        ZunDeviceStats s(CMacAddr::fromSerial(0x0A0B));
        s.setIpAddress(QHostAddress(QStringLiteral("10.1.2.3")));
        s.setName(QStringLiteral("Front"));
        s.setLive(true);
        s.setFirmware(1080); // not carried
        QByteArray buf;
        { QDataStream out(&buf, QIODevice::WriteOnly); out << s; }
        ZunDeviceStats back;
        { QDataStream in(buf); in >> back; }
        QCOMPARE(back.serial(), quint16(0x0A0B));
        QCOMPARE(back.getIpAddress(), QHostAddress(QStringLiteral("10.1.2.3")));
        QCOMPARE(back.rawName(), QStringLiteral("Front"));
        QVERIFY(back.isLive());
        QCOMPARE(back.firmware(), quint16(0));
        // A truncated stream leaves the record as it was.
        ZunDeviceStats cut(CMacAddr::fromSerial(9));
        { QDataStream in(buf.left(buf.size() - 1)); in >> cut; }
        QCOMPARE(cut.serial(), quint16(9));
        QVERIFY(!cut.isLive());
    }

    void firstAnnounceCreatesRecord()
    {
        auto net = makeNet();
        QSignalSpy detected(net.get(), &CZunNetwork::zunDetected);
        QSignalSpy changed(net.get(), &CZunNetwork::zunNetworkChanged);
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(0x0105)), Sender);
        QCOMPARE(detected.count(), 1);
        QCOMPARE(changed.count(), 1);
        const auto list = net->getDeviceList();
        QCOMPARE(list.size(), 1);
        const auto d = list[0];
        QCOMPARE(detected[0][0].value<QSharedPointer<ZunDeviceStats>>(), d);
        QCOMPARE(d->serial(), quint16(0x0105));
        QCOMPARE(d->getIpAddress(), Sender);
        QCOMPARE(d->getName(), QStringLiteral("Stage"));
        QCOMPARE(d->getFirmwareString(), QStringLiteral("1078.0"));
        QCOMPARE(d->routingWord(), quint16(0x1191));
        QCOMPARE(d->getHardwareInfo().hardwareWord(), quint32(0xFF94));
        QVERIFY(d->isLive());
        QCOMPARE(d->lastAnnounceMs(), qint64(1000));

        // The same announce again changes nothing and says nothing.
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(0x0105)), Sender);
        QCOMPARE(detected.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(net->getDeviceList().size(), 1);
    }

    void announceChanges()
    {
        auto net = makeNet();
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(7)), Sender);
        QSignalSpy changed(net.get(), &CZunNetwork::zunNetworkChanged);
        QSignalSpy routing(net.get(), &CZunNetwork::routingChanged);
        QSignalSpy firmware(net.get(), &CZunNetwork::firmwareChanged);
        const auto d = net->findDevice(7);

        auto a = announce(7);
        a.routingWord = 0x2222;
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(a), Sender);
        QCOMPARE(routing.count(), 1);
        QCOMPARE(d->routingWord(), quint16(0x2222));
        a.routingByte = 9; // the other routing field alone
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(a), Sender);
        QCOMPARE(routing.count(), 2);
        QCOMPARE(firmware.count(), 0);

        a.versionWord = 1079;
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(a), Sender);
        QCOMPARE(firmware.count(), 1);
        QCOMPARE(d->firmware(), quint16(1079));

        // Firmware 0 means "not told": the number found by the version probe stays.
        a.versionWord = 0;
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(a), Sender);
        QCOMPARE(firmware.count(), 1);
        QCOMPARE(d->firmware(), quint16(1079));

        a.name = QStringLiteral("Renamed");
        const int before = changed.count();
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(a), Sender);
        QCOMPARE(changed.count(), before + 1);
        QCOMPARE(d->getName(), QStringLiteral("Renamed"));
        QCOMPARE(routing.count(), 2);
    }

    void malformedDatagramsAreDropped()
    {
        auto net = makeNet();
        QSignalSpy detected(net.get(), &CZunNetwork::zunDetected);
        QSignalSpy status(net.get(), &CZunNetwork::zunStatusBatchReceived);
        const QByteArray good = ZunUdpDatagram::encodeAnnounce(announce(3));
        QByteArray foreign = good;
        foreign[2] = 0x00;
        // no processor's: every field after the maker's prefix all ones
        const QByteArray stray = good.left(4) + QByteArray(45, '\xFF');
        const QList<QByteArray> bad {QByteArray(), QByteArray(1, '\x5A'), good.left(4), good.left(48),
                                     good + QByteArray(1, '\0'), foreign, QByteArray(49, '\xFF'), stray,
                                     QByteArray::fromHex("04"), QByteArray::fromHex("04ff"),
                                     ZunUdpDatagram::statusDatagram(QByteArray(50, '\0'))};
        for (const QByteArray& d : bad)
            net->handleDatagram(d, Sender);
        QCOMPARE(detected.count(), 0);
        QCOMPARE(status.count(), 0);
        QVERIFY(net->getDeviceList().isEmpty());
        net->handleDatagram(ZunUdpDatagram::ping(), Sender); // our own broadcast
        QVERIFY(net->getDeviceList().isEmpty());
        // A processor whose stored address is erased is listed, at the address it sends from.
        auto erased = announce(4);
        erased.ip = CIpAddr(0xFFFFFFFF);
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(erased), Sender);
        QCOMPARE(detected.count(), 1);
        QCOMPARE(net->getDeviceList().value(0)->getIpAddress(), Sender);
    }

    void statusDatagrams()
    {
        auto net = makeNet();
        QSignalSpy status(net.get(), &CZunNetwork::zunStatusBatchReceived);
        const QByteArray d = ZunUdpDatagram::statusDatagram(QByteArray(108, '\x11'));
        net->handleDatagram(d, Sender); // nobody listed at that address yet
        QCOMPARE(status.count(), 0);

        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(0x0203)), Sender);
        m_now = 5000;
        net->handleDatagram(d, QHostAddress(QStringLiteral("::ffff:10.77.0.11")));
        QCOMPARE(status.count(), 1);
        const ZunStatusBatch first = status[0][0].value<ZunStatusBatch>();
        QCOMPARE(first.size(), 1);
        QCOMPARE(first[0].serial, quint16(0x0203));
        QCOMPARE(first[0].bytes, d); // whole, header included
        QCOMPARE(net->findDevice(0x0203)->lastStatusMs(), qint64(5000));
        net->handleDatagram(ZunUdpDatagram::statusDatagram(QByteArray(106, '\0')), Sender);
        QCOMPARE(status.count(), 2);
        net->handleDatagram(d.left(111), Sender);
        net->handleDatagram(d + QByteArray(2, '\0'), Sender);
        QCOMPARE(status.count(), 2);

        // A record given another address is found there, and no longer at its old one.
        const QHostAddress moved(QStringLiteral("10.77.0.12"));
        net->findDevice(0x0203)->setIpAddress(moved);
        net->handleDatagram(d, Sender);
        QCOMPARE(status.count(), 2);
        net->handleDatagram(d, moved);
        QCOMPARE(status.count(), 3);
        QCOMPARE(status[2][0].value<ZunStatusBatch>()[0].serial, quint16(0x0203));
    }

    void liveness()
    {
        auto net = makeNet();
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(1)), Sender);
        m_now = 5000;
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(2)), QHostAddress(QStringLiteral("10.77.0.12")));
        QSignalSpy changed(net.get(), &CZunNetwork::zunNetworkChanged);

        m_now = 1000 + CZunNetwork::LiveTimeoutMs;
        net->checkLiveness();
        QCOMPARE(changed.count(), 0);
        QVERIFY(net->findDevice(1)->isLive());

        m_now = 1001 + CZunNetwork::LiveTimeoutMs;
        net->checkLiveness();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed[0][0].value<QSharedPointer<ZunDeviceStats>>()->serial(), quint16(1));
        QVERIFY(!net->findDevice(1)->isLive());
        QVERIFY(net->findDevice(2)->isLive());
        net->checkLiveness(); // reported once
        QCOMPARE(changed.count(), 1);

        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(1)), Sender);
        QVERIFY(net->findDevice(1)->isLive());
        QCOMPARE(changed.count(), 2);
    }

    // A status datagram or a connected control link says the processor answers as an
    // announce does (one found by the scan never announces): live until it falls silent,
    // live again at its next sign.
    void signsOfLifeKeepTheRecordLive_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("status datagram") << false;
        QTest::newRow("connected link") << true;
    }
    void signsOfLifeKeepTheRecordLive()
    {
        QFETCH(bool, link);
        auto net = makeNet();
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(1)), Sender);
        const QSharedPointer<ZunDeviceStats> dev = net->findDevice(1);
        const auto sign = [&] {
            if (link)
                dev->setLinkConnected(true);
            else
                net->handleDatagram(ZunUdpDatagram::statusDatagram(QByteArray(108, '\0')), Sender);
        };
        m_now = 1000 + CZunNetwork::LiveTimeoutMs / 2;
        sign();
        m_now = 1001 + CZunNetwork::LiveTimeoutMs;
        net->checkLiveness();
        QVERIFY(dev->isLive());

        dev->setLinkConnected(false);
        m_now += CZunNetwork::LiveTimeoutMs;
        net->checkLiveness();
        QVERIFY(!dev->isLive());
        QSignalSpy changed(net.get(), &CZunNetwork::zunNetworkChanged);
        sign();
        net->checkLiveness();
        QVERIFY(dev->isLive());
        QCOMPARE(changed.count(), 1);
    }

    void hardwareInfoIsKept()
    {
        auto net = makeNet();
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(4)), Sender);
        net->setHardwareInfo(4, CZunHardwareInfo(0xFF94, 0x55));
        net->setHardwareInfo(0x10004, CZunHardwareInfo(1, 1)); // no such serial: ignored
        // The announce repeats the same hardware word: the extra word from the link stays.
        net->handleDatagram(ZunUdpDatagram::encodeAnnounce(announce(4)), Sender);
        QCOMPARE(net->findDevice(4)->getHardwareInfo(), CZunHardwareInfo(0xFF94, 0x55));
    }
};

QTEST_GUILESS_MAIN(TstDiscovery)
#include "tst_discovery.moc"
