// The UDP wire format and the value types it carries.
#include "CCmdMap.h"
#include "CIpAddr.h"
#include "CMacAddr.h"
#include "CZunHardwareInfo.h"
#include "ZunIcmpSweep.h"
#include "ZunUdpDatagram.h"

#include <QtTest>

class TstUdpDatagram : public QObject
{
    Q_OBJECT

private:
    static ZunUdpDatagram::Announce sample()
    {
        ZunUdpDatagram::Announce a;
        a.mac = CMacAddr::fromSerial(0x0107);
        a.routingByte = 0x3C;
        a.versionWord = 0x1435; // firmware 1077, second field 1
        a.routingWord = 0x1191;
        a.hardwareWord = 0x0100FF94;
        a.name = QStringLiteral("Main Left");
        a.ip = CIpAddr::fromString(QStringLiteral("10.77.0.11"));
        a.status = 0xFF85;
        a.flags = 0x0041;
        a.linkState = 6;
        return a;
    }

private slots:
    void macAddress()
    {
        const CMacAddr m = CMacAddr::fromSerial(0x1234);
        QCOMPARE(m.toBytes(), QByteArray::fromHex("5a756e001234"));
        QCOMPARE(m.serial(), quint16(0x1234));
        QVERIFY(m.isZun());
        QCOMPARE(m.toString(), QStringLiteral("5A:75:6E:00:12:34"));
        QCOMPARE(CMacAddr::fromString(QStringLiteral("5a-75-6e-00-12-34")), m);
        QVERIFY(!CMacAddr::fromString(QStringLiteral("00:11:22:33:44:55")).isZun());
        QVERIFY(CMacAddr::fromString(QStringLiteral("5a:75:6e:00:12")).isNull());
        QVERIFY(CMacAddr::fromString(QStringLiteral("5a:75:6e:00:12:345")).isNull());
        QVERIFY(CMacAddr::fromBytes(QByteArray(5, 'x')).isNull());

        QByteArray buf;
        { QDataStream out(&buf, QIODevice::WriteOnly); out << m; }
        CMacAddr back;
        { QDataStream in(buf); in >> back; }
        QCOMPARE(back, m);
    }

    void ipAddress()
    {
        const CIpAddr a = CIpAddr::fromString(QStringLiteral("192.168.1.20"));
        QCOMPARE(a.toBytes(), QByteArray::fromHex("c0a80114"));
        QCOMPARE(CIpAddr::fromBytes(a.toBytes()), a);
        QCOMPARE(a.toHostAddress(), QHostAddress(QStringLiteral("192.168.1.20")));
        QCOMPARE(CIpAddr(QHostAddress(QStringLiteral("::ffff:192.168.1.20"))), a);
        QVERIFY(CIpAddr(QHostAddress(QStringLiteral("fe80::1"))).isNull());
        QVERIFY(CIpAddr::fromString(QStringLiteral("300.1.1.1")).isNull());
        QVERIFY(CIpAddr::fromBytes(QByteArray(3, '\1')).isNull());

        QByteArray buf;
        { QDataStream out(&buf, QIODevice::WriteOnly); out << a; }
        CIpAddr back;
        { QDataStream in(buf); in >> back; }
        QCOMPARE(back, a);
        // A truncated stream gives the null address, not garbage.
        CIpAddr cut(1234);
        { QDataStream in(buf.left(2)); in >> cut; }
        QVERIFY(cut.isNull());
    }

    void hardwareInfo()
    {
        const CZunHardwareInfo announced(0xFF94);
        QVERIFY(announced.isValid());
        QCOMPARE(announced.extraWord(), quint32(0));
        QVERIFY(!CZunHardwareInfo(0).isValid());
        const CZunHardwareInfo full(0xFF94, 0x12);
        QVERIFY(full != announced);
        QByteArray buf;
        { QDataStream out(&buf, QIODevice::WriteOnly); out << full; }
        CZunHardwareInfo back;
        { QDataStream in(buf); in >> back; }
        QCOMPARE(back, full);
    }

    // The announce layout byte by byte, as docs/protocol.md ("UDP (port 1234)") gives it.
    void announceLayout()
    {
        const QByteArray d = ZunUdpDatagram::encodeAnnounce(sample());
        QCOMPARE(d.size(), 49);
        QCOMPARE(d.left(6), QByteArray::fromHex("5a756e000107"));
        QCOMPARE(quint8(d[6]), quint8(0x00));     // hardware bits 16-23
        QCOMPARE(quint8(d[7]), quint8(0x3C));     // routing byte
        QCOMPARE(d.mid(8, 2), QByteArray::fromHex("3514"));
        QCOMPARE(quint8(d[10]), quint8(0x01));    // hardware bits 24-31
        QCOMPARE(d.mid(11, 2), QByteArray::fromHex("9111"));
        QCOMPARE(d.mid(13, 2), QByteArray::fromHex("94ff"));
        QCOMPARE(d.mid(15, 24), QByteArray("Main Left") + QByteArray(15, '\0'));
        QCOMPARE(d.mid(39, 4), QByteArray::fromHex("0a4d000b"));
        QCOMPARE(d.mid(43, 6), QByteArray::fromHex("85ff41000600"));

        ZunUdpDatagram::Announce a;
        QVERIFY(ZunUdpDatagram::decodeAnnounce(d, &a));
        QCOMPARE(a.mac.serial(), quint16(0x0107));
        QCOMPARE(a.firmware(), quint16(1077));
        QCOMPARE(a.revision(), quint16(1));
        QCOMPARE(a.routingByte, quint8(0x3C));
        QCOMPARE(a.routingWord, quint16(0x1191));
        QCOMPARE(a.hardwareWord, quint32(0x0100FF94));
        QCOMPARE(a.name, QStringLiteral("Main Left"));
        QCOMPARE(a.ip.toString(), QStringLiteral("10.77.0.11"));
        QCOMPARE(a.status, quint16(0xFF85));
        QCOMPARE(a.flags, quint16(0x0041));
        QCOMPARE(a.linkState, quint16(6));
    }

    void announceName()
    {
        ZunUdpDatagram::Announce s = sample();
        s.name = QString(30, QLatin1Char('n'));
        ZunUdpDatagram::Announce a;
        QVERIFY(ZunUdpDatagram::decodeAnnounce(ZunUdpDatagram::encodeAnnounce(s), &a));
        QCOMPARE(a.name, QString(24, QLatin1Char('n')));
        // A name of the full 24 bytes has no terminator and does not run into the address.
        QByteArray d = ZunUdpDatagram::encodeAnnounce(s);
        QCOMPARE(d.mid(39, 4), QByteArray::fromHex("0a4d000b"));
    }

    void badAnnounces_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        const QByteArray good = ZunUdpDatagram::encodeAnnounce(sample());
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("short") << good.left(48);
        QTest::newRow("long") << good + QByteArray(1, '\0');
        QByteArray foreign = good;
        foreign[3] = 0x01;
        QTest::newRow("foreign MAC") << foreign;
        QTest::newRow("garbage") << QByteArray(49, '\xAB');
        ZunUdpDatagram::Announce noFirmware = sample();
        noFirmware.versionWord = 0x1FFF; // firmware 4095, a normal address
        QTest::newRow("firmware 4095") << ZunUdpDatagram::encodeAnnounce(noFirmware);
    }
    void badAnnounces()
    {
        QFETCH(QByteArray, datagram);
        ZunUdpDatagram::Announce a;
        a.name = QStringLiteral("untouched");
        QString why;
        QVERIFY(!ZunUdpDatagram::decodeAnnounce(datagram, &a, &why));
        QVERIFY(!why.isEmpty());
        QCOMPARE(a.name, QStringLiteral("untouched"));
    }

    void requestsAndCommands()
    {
        QCOMPARE(ZunUdpDatagram::ping(), QByteArray::fromHex("12ff0000"));
        QVERIFY(ZunUdpDatagram::isPing(ZunUdpDatagram::ping()));
        QVERIFY(!ZunUdpDatagram::isPing(QByteArray::fromHex("12ff000000")));
        QCOMPARE(ZunUdpDatagram::statusRequest(100, 25), QByteArray::fromHex("10ff64001900"));
        QCOMPARE(ZunUdpDatagram::command(20, 72), QByteArray::fromHex("11ff14004800"));
        QCOMPARE(ZunUdpDatagram::command(3400, 65535), QByteArray::fromHex("11ff480dffff"));
        QCOMPARE(ZunUdpDatagram::masterMute(true), QByteArray::fromHex("11ff74000100"));
        QCOMPARE(ZunUdpDatagram::masterMute(false), QByteArray::fromHex("11ff74000000"));
        // Every output: each DSP's own word, DSP 1's first; the words are the tables' in every firmware.
        QCOMPARE(ZunUdpDatagram::masterMuteAll(true, true),
                 (QList<QByteArray> {QByteArray::fromHex("11ff74000100"), QByteArray::fromHex("11ff76030100")}));
        QCOMPARE(ZunUdpDatagram::masterMuteAll(false, false), QList<QByteArray> {QByteArray::fromHex("11ff74000000")});
        for (quint16 version : CCmdMap::versions()) {
            CCmdMap map;
            map.setVersion(version);
            QCOMPARE(map.getCmdNr("Cmd_0_MasterMute"), ZunUdpDatagram::CmdMasterMute);
            QCOMPARE(map.getCmdNr("Cmd_1_MasterMute"), ZunUdpDatagram::CmdMasterMuteDsp2);
        }

        quint16 a = 0, b = 0;
        QVERIFY(ZunUdpDatagram::decodeStatusRequest(QByteArray::fromHex("10ff14007d00"), &a, &b));
        QCOMPARE(a, quint16(20));
        QCOMPARE(b, quint16(125));
        QVERIFY(!ZunUdpDatagram::decodeStatusRequest(QByteArray::fromHex("10ff1400"), &a, &b));
        QVERIFY(!ZunUdpDatagram::decodeCommand(QByteArray::fromHex("10ff14007d00"), &a, &b));
        QVERIFY(!ZunUdpDatagram::decodeCommand(QByteArray::fromHex("11ff14007d0000"), &a, &b));
    }

    void statusDatagram()
    {
        const QByteArray d = ZunUdpDatagram::statusDatagram(QByteArray(108, '\x01'));
        QCOMPARE(d.size(), 112);
        QCOMPARE(d.left(4), QByteArray::fromHex("04ff6c00"));
        QVERIFY(ZunUdpDatagram::checkStatus(d));
        QVERIFY(ZunUdpDatagram::checkStatus(ZunUdpDatagram::statusDatagram(QByteArray(106, '\0'))));
        QVERIFY(!ZunUdpDatagram::checkStatus(ZunUdpDatagram::statusDatagram(QByteArray(107, '\0'))));
        QVERIFY(!ZunUdpDatagram::checkStatus(ZunUdpDatagram::statusDatagram(QByteArray(200, '\0'))));
        QVERIFY(!ZunUdpDatagram::checkStatus(QByteArray::fromHex("04")));
        QVERIFY(!ZunUdpDatagram::checkStatus(QByteArray::fromHex("04ff")));
    }

    void arpTable()
    {
        const QByteArray text =
            "IP address       HW type     Flags       HW address            Mask     Device\n"
            "10.77.0.11       0x1         0x2         5a:75:6e:00:01:01     *        zbr0\n"
            "10.77.0.12       0x1         0x0         00:00:00:00:00:00     *        zbr0\n"
            "10.77.0.13       0x1         0x2         02:42:ac:11:00:02     *        zbr0\n"
            "garbage line\n"
            "10.77.0.99       0x1         0x2         not-a-mac             *        zbr0\n";
        const auto n = ZunIcmpSweep::parseArpTable(text);
        QCOMPARE(n.size(), 2); // incomplete and malformed entries are left out
        QCOMPARE(n[0].ip, QHostAddress(QStringLiteral("10.77.0.11")));
        QVERIFY(n[0].mac.isZun());
        QCOMPARE(n[0].mac.serial(), quint16(0x0101));
        QCOMPARE(n[0].device, QStringLiteral("zbr0"));
        QVERIFY(!n[1].mac.isZun());
    }

    void icmpChecksum()
    {
        // An echo request with its checksum in place sums to zero.
        QByteArray m = QByteArray::fromHex("0800000012340001") + QByteArray("abcdefg");
        const quint16 c = ZunIcmpSweep::checksum(m);
        m[2] = char(c >> 8);
        m[3] = char(c & 0xFF);
        QCOMPARE(ZunIcmpSweep::checksum(m), quint16(0));
    }

    // What the sweep counts as an answer: the header's length word is the processor's (or
    // any host's) byte, never trusted past the datagram.
    void icmpEchoReplies_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("withIpHeader");
        QTest::addColumn<bool>("reply");
        const QByteArray echo = QByteArray::fromHex("0000abcd12340001") + "ZunScan!";
        const QByteArray ip = QByteArray::fromHex("4500001c000000004001000"
                                                  "00a4d000b0a4d0001");
        QTest::newRow("raw reply") << ip + echo << true << true;
        QTest::newRow("raw reply, header with options") << QByteArray::fromHex("46") + ip.mid(1) + QByteArray(4, '\1') + echo
                                                         << true << true;
        QTest::newRow("raw reply of another program") << ip + QByteArray::fromHex("0000abcd43210001") << true << false;
        QTest::newRow("raw echo request") << ip + QByteArray::fromHex("0800abcd12340001") << true << false;
        QTest::newRow("header length 0") << QByteArray::fromHex("40") + ip.mid(1) + echo << true << false;
        // A length word below the 20 bytes of any IPv4 header: what follows it is no message.
        QTest::newRow("header length 8, an echo reply behind it")
            << QByteArray::fromHex("4200001800000000") + echo << true << false;
        QTest::newRow("header length past the datagram") << QByteArray::fromHex("4f") + ip.mid(1) + echo << true << false;
        QTest::newRow("no IPv4 header") << QByteArray::fromHex("65") + ip.mid(1) + echo << true << false;
        QTest::newRow("shorter than a header") << ip.left(12) << true << false;
        QTest::newRow("datagram socket reply") << echo << false << true;
        QTest::newRow("datagram socket, short") << echo.left(7) << false << false;
    }

    void icmpEchoReplies()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, withIpHeader);
        QFETCH(bool, reply);
        QCOMPARE(ZunIcmpSweep::isEchoReply(datagram.constData(), datagram.size(), withIpHeader, 0x1234), reply);
    }
};

QTEST_GUILESS_MAIN(TstUdpDatagram)
#include "tst_udpdatagram.moc"
