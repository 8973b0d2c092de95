// The emulator's UDP side on loopback: announce, status stream, commands, faults.
#include "CCmdMap.h"
#include "ZunUdpDatagram.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpServer>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

class TstZunSimUdp : public QObject
{
    Q_OBJECT

    struct Sim
    {
        std::unique_ptr<QProcess> process;
        quint16 port = 0;
        ~Sim()
        {
            if (process && process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(2000);
            }
        }
    };

    QUdpSocket m_socket;


    std::unique_ptr<Sim> start(const QStringList& options)
    {
        auto sim = std::make_unique<Sim>();
        sim->process = std::make_unique<QProcess>();
        // Port 0: the emulator names the ports it got in its ready line.
        sim->process->start(QString::fromLocal8Bit(qgetenv("ZUNSIM")),
                            QStringList {"--bind", "127.0.0.1", "--udp-port", "0", "--tcp-port", "0", "--parent",
                                         QString::number(QCoreApplication::applicationPid())} + options);
        QByteArray out;
        while (!out.contains('\n') && sim->process->waitForReadyRead(5000))
            out += sim->process->readAllStandardOutput();
        const QList<QByteArray> words = out.trimmed().split(' ');
        if (!out.startsWith("zunsim ready") || words.indexOf("udp") < 0)
            return nullptr;
        sim->port = quint16(words.value(words.indexOf("udp") + 1).toUInt());
        return sim->port ? std::move(sim) : nullptr;
    }

    void send(const Sim& sim, const QByteArray& d) { m_socket.writeDatagram(d, QHostAddress::LocalHost, sim.port); }

    // Everything that arrives within waitMs (or until count datagrams have come).
    QList<QByteArray> receive(int waitMs, int count = 1000)
    {
        QList<QByteArray> got;
        QElapsedTimer t;
        t.start();
        while (got.size() < count && t.elapsed() < waitMs) {
            if (!m_socket.hasPendingDatagrams())
                m_socket.waitForReadyRead(50);
            while (m_socket.hasPendingDatagrams() && got.size() < count)
                got << m_socket.receiveDatagram().data();
        }
        return got;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
    }

    void announce()
    {
        auto sim = start({"--serial", "0x0A0B", "--name", "Loop", "--firmware", "1079", "--revision", "2", "--hardware",
                          "0xff94", "--routing", "0x1191", "--routing-byte", "5", "--flags", "3"});
        QVERIFY(sim);
        send(*sim, ZunUdpDatagram::ping());
        const auto got = receive(3000, 1);
        QCOMPARE(got.size(), 1);
        ZunUdpDatagram::Announce a;
        QVERIFY(ZunUdpDatagram::decodeAnnounce(got[0], &a));
        QCOMPARE(a.mac.serial(), quint16(0x0A0B));
        QCOMPARE(a.name, QStringLiteral("Loop"));
        QCOMPARE(a.firmware(), quint16(1079));
        QCOMPARE(a.revision(), quint16(2));
        QCOMPARE(a.hardwareWord, quint32(0xFF94));
        QCOMPARE(a.routingWord, quint16(0x1191));
        QCOMPARE(a.routingByte, quint8(5));
        QCOMPARE(a.flags, quint16(3));
        QCOMPARE(a.status, quint16(0xFF70));
        QCOMPARE(a.ip.toString(), QStringLiteral("127.0.0.1"));
    }

    void announceFaults()
    {
        auto zero = start({"--announce-zero", "--firmware", "1077"});
        QVERIFY(zero);
        send(*zero, ZunUdpDatagram::ping());
        ZunUdpDatagram::Announce a;
        const auto got = receive(3000, 1);
        QCOMPARE(got.size(), 1);
        QVERIFY(ZunUdpDatagram::decodeAnnounce(got[0], &a));
        QCOMPARE(a.versionWord, quint16(0));

        auto quiet = start({"--no-broadcast-answer"});
        QVERIFY(quiet);
        send(*quiet, ZunUdpDatagram::ping());
        QVERIFY(receive(500).isEmpty());
        // It still streams its status when asked.
        send(*quiet, ZunUdpDatagram::statusRequest(10, 2));
        QCOMPARE(receive(3000, 2).size(), 2);

        quiet->process->write("silent\n");
        QVERIFY(quiet->process->waitForBytesWritten(2000));
        QTest::qWait(200);
        send(*quiet, ZunUdpDatagram::statusRequest(10, 2));
        QVERIFY(receive(500).isEmpty());
    }

    void statusStream_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("size");
        QTest::newRow("1075") << "1075" << 110;
        QTest::newRow("1080") << "1080" << 112;
    }
    void statusStream()
    {
        QFETCH(QString, firmware);
        QFETCH(int, size);
        auto sim = start({"--firmware", firmware});
        QVERIFY(sim);
        send(*sim, ZunUdpDatagram::statusRequest(10, 8));
        QList<QByteArray> got = receive(5000, 8);
        got += receive(300); // and no more
        QCOMPARE(got.size(), 8);
        for (const QByteArray& d : got) {
            QCOMPARE(d.size(), size);
            QVERIFY(ZunUdpDatagram::checkStatus(d));
            QCOMPARE(ZunUdpDatagram::word(d, 2), quint16(size - 4));
        }
        QVERIFY(got.first() != got.last()); // the levels move
        // A request for no datagrams stops a running stream.
        send(*sim, ZunUdpDatagram::statusRequest(10, 200));
        QVERIFY(!receive(3000, 3).isEmpty());
        send(*sim, ZunUdpDatagram::statusRequest(10, 0));
        receive(300);
        QVERIFY(receive(300).isEmpty());
    }

    void commandsShowInStatus()
    {
        auto sim = start({"--firmware", "1078"});
        QVERIFY(sim);
        // Garbage first: dropped, the emulator carries on.
        send(*sim, QByteArray());
        send(*sim, QByteArray::fromHex("11ff7400"));
        send(*sim, QByteArray::fromHex("11ff740001000000"));
        send(*sim, QByteArray(300, '\xEE'));
        send(*sim, ZunUdpDatagram::command(60000, 1)); // beyond the image
        send(*sim, ZunUdpDatagram::masterMute(true));
        QTest::qWait(100);
        send(*sim, ZunUdpDatagram::statusRequest(10, 2));
        auto got = receive(3000, 2);
        QCOMPARE(got.size(), 2);
        // Stat_Status reports the changed parameter once; Stat_Status2 bit 2 the mute.
        QCOMPARE(ZunUdpDatagram::word(got[0], 4 + 2), quint16(ZunUdpDatagram::CmdMasterMute));
        QVERIFY(ZunUdpDatagram::word(got[1], 4 + 2) != ZunUdpDatagram::CmdMasterMute);
        QVERIFY(ZunUdpDatagram::word(got[0], 4 + 4) & 0x0004);
        QVERIFY(ZunUdpDatagram::word(got[1], 4 + 4) & 0x0004);

        // A change at the front panel shows the same way.
        sim->process->write("set 20 72\n");
        QVERIFY(sim->process->waitForBytesWritten(2000));
        QTest::qWait(200);
        send(*sim, ZunUdpDatagram::masterMute(false));
        QTest::qWait(100);
        send(*sim, ZunUdpDatagram::statusRequest(10, 1));
        got = receive(3000, 1);
        QCOMPARE(got.size(), 1);
        QVERIFY(!(ZunUdpDatagram::word(got[0], 4 + 4) & 0x0004));

        // Both DSPs' words back to back: "several changed" (0xFF71), not the last one alone.
        for (const QByteArray& d : ZunUdpDatagram::masterMuteAll(true, true))
            send(*sim, d);
        QTest::qWait(100);
        send(*sim, ZunUdpDatagram::statusRequest(10, 1));
        got = receive(3000, 1);
        QCOMPARE(got.size(), 1);
        QCOMPARE(ZunUdpDatagram::word(got[0], 4 + 2), quint16(0xFF71));
    }

    // Stat_Mute's output bits: each DSP's master mute mutes its own outputs; on a one-board
    // processor DSP 1's mutes them all.
    void masterMuteMutesItsOwnOutputs_data()
    {
        QTest::addColumn<QString>("hardware");
        QTest::addColumn<QString>("mute");
        QTest::addColumn<quint16>("outputBits");
        QTest::newRow("DSP 1 of two") << "0xff94" << "Cmd_0_MasterMute" << quint16(0x0F00);
        QTest::newRow("DSP 2 of two") << "0xff94" << "Cmd_1_MasterMute" << quint16(0xF000);
        QTest::newRow("one board") << "0xff14" << "Cmd_0_MasterMute" << quint16(0xFF00);
    }
    void masterMuteMutesItsOwnOutputs()
    {
        QFETCH(QString, hardware);
        QFETCH(QString, mute);
        QFETCH(quint16, outputBits);
        auto sim = start({"--firmware", "1080", "--hardware", hardware});
        QVERIFY(sim);
        CCmdMap map;
        map.setVersion(1080);
        send(*sim, ZunUdpDatagram::command(map.getCmdNr(mute), 1));
        send(*sim, ZunUdpDatagram::statusRequest(10, 1));
        const auto got = receive(3000, 1);
        QCOMPARE(got.size(), 1);
        QCOMPARE(quint16(ZunUdpDatagram::word(got[0], 4 + 2 * map.getCmdNr("Stat_Mute")) & 0xFF00), outputBits);
    }
};

QTEST_GUILESS_MAIN(TstZunSimUdp)
#include "tst_zunsim_udp.moc"
