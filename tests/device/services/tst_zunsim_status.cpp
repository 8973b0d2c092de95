// The emulator's status stream decoded by the audio status: levels that move, a hard
// driven output limits, mute bits and master mute follow the emulator's image, in the
// record layouts before and from 1077.
#include "TcpSimProcess.h"
#include "AudioIOStatus.h"
#include "CCmdMap.h"
#include "ZunUdpDatagram.h"
#include "ZunSignalSpy.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

class TestZunSimStatus : public QObject
{
    Q_OBJECT

    QList<QByteArray> stream(QUdpSocket& socket, const TcpSimProcess& sim, int count)
    {
        socket.writeDatagram(ZunUdpDatagram::statusRequest(10, quint16(count)), QHostAddress::LocalHost, sim.udpPort());
        QList<QByteArray> got;
        QElapsedTimer t;
        t.start();
        while (got.size() < count && t.elapsed() < 10000) {
            if (!socket.hasPendingDatagrams())
                socket.waitForReadyRead(50);
            while (socket.hasPendingDatagrams())
                got << socket.receiveDatagram().data();
        }
        return got;
    }

private slots:
    void statusFollowsTheEmulator_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::newRow("1076") << 1076;
        QTest::newRow("1080") << 1080;
    }

    void statusFollowsTheEmulator()
    {
        QFETCH(int, firmware);
        auto map = QSharedPointer<CCmdMap>::create();
        map->setVersion(quint16(firmware));
        TcpSimProcess sim;
        QVERIFY2(sim.start({"--firmware", QString::number(firmware)}), qPrintable(sim.error()));
        // Output 1 (index 0) at +12 dB: driven into its limiter. Output 6 and path A muted.
        QVERIFY(sim.control(QStringLiteral("set %1 120").arg(map->getCmdNr("Cmd_0_ChGain0"))));
        QVERIFY(sim.control(QStringLiteral("set %1 1").arg(map->getCmdNr("Cmd_1_ChMute1"))));
        QVERIFY(sim.control(QStringLiteral("set %1 1").arg(map->getCmdNr("Cmd_0_InMuteA"))));
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));

        AudioIOStatus status(map);
        QVERIFY(status.SetRouting(0x1191));
        ZunSignalSpy cycles(&status, &AudioIOStatus::signal_CyclesSamplingRateChanged);
        const QList<QByteArray> got = stream(socket, sim, 30);
        QCOMPARE(got.size(), 30);
        QSet<int> inputLevels;
        bool limited = false;
        double maxReduction = 0.0;
        for (const QByteArray& d : got) {
            QVERIFY(status.refresh(d));
            QCOMPARE(status.GetRecordSize(), quint32(firmware >= 1077 ? 108 : 106));
            inputLevels << qRound(status.GetInputLevel(1));
            if (status.IsPeakLimiting(0)) {
                limited = true;
                maxReduction = qMax(maxReduction, status.GetGainReduction(0));
                QCOMPARE(status.GetOutputLevel(0), 0.0);
                QVERIFY(status.GetTemperature(0) >= 70 && status.GetTemperature(0) <= 100);
            }
            // An output at 0 dB gain never reaches full scale.
            QVERIFY(!status.IsPeakLimiting(1));
            QCOMPARE(status.GetGainReduction(1), 0.0);
            QVERIFY(status.GetTemperature(1) < 70);
            QCOMPARE(status.GetOutputLevel(5), -100.0);
            QVERIFY(!status.IsMasterMuted());
            QCOMPARE(status.IsOutputMuted(5), firmware >= 1077);
            QVERIFY(!status.IsOutputMuted(0));
            QCOMPARE(status.IsInputMuted(1), firmware >= 1077);
            QVERIFY(!status.IsInputMuted(2));
        }
        QVERIFY(limited);
        QVERIFY(maxReduction >= 6.0);
        QVERIFY(inputLevels.size() > 3);
        QVERIFY(!cycles.isEmpty());
        QCOMPARE(cycles.last().at(0).toInt(), 96000); // the default clock selection

        // Master mute: every output muted and silent.
        socket.writeDatagram(ZunUdpDatagram::masterMute(true), QHostAddress::LocalHost, sim.udpPort());
        QTest::qWait(100);
        const QList<QByteArray> muted = stream(socket, sim, 2);
        QCOMPARE(muted.size(), 2);
        QVERIFY(status.refresh(muted.last()));
        QVERIFY(status.IsMasterMuted());
        QCOMPARE(status.GetOutputLevel(0), -100.0);
        QVERIFY(!status.IsPeakLimiting(0));
    }
};

QTEST_MAIN(TestZunSimStatus)
#include "tst_zunsim_status.moc"
