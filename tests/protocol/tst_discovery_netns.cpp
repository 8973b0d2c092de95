// Discovery end to end: emulated processors as hosts of a private network (see
// ZunNetnsRig.h). Needs root; skips otherwise.
#include "CZunNetwork.h"
#include "ZunNetnsRig.h"
#include "ZunUdpDatagram.h"

#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Four processors: three that answer the broadcast and one (firmware 1076) that does not.
struct Proc
{
    quint16 serial;
    QString name;
    int firmware;
    bool broadcast;
};
const QList<Proc> Procs {
    {0x0101, QStringLiteral("Alpha"), 1077, true},
    {0x0102, QStringLiteral("Beta"), 1078, true},
    {0x0203, QStringLiteral("Gamma"), 1080, true},
    {0x0304, QStringLiteral("Old"), 1076, false},
};
} // namespace

class TstDiscoveryNetns : public QObject
{
    Q_OBJECT

    ZunNetnsRig m_rig;
    std::unique_ptr<CZunNetwork> m_net;
    std::atomic<qint64> m_offset {0};
    QElapsedTimer m_clock;
    // Filled in this thread through queued connections.
    QHash<quint16, QList<QByteArray>> m_status;
    int m_ticks = 0;

    QSharedPointer<ZunDeviceStats> device(quint16 serial) { return m_net->findDevice(serial); }
    // The processor that ignores the ping listed too, as the scan's own test leaves it.
    void listEvenTheSilentOne()
    {
        if (!device(0x0304))
            m_net->scanNetwork();
    }

    // The status datagrams that arrive for a serial after asking for a stream.
    QList<QByteArray> streamOf(quint16 serial, int intervalMs, int expected)
    {
        m_status.remove(serial);
        QMetaObject::invokeMethod(m_net.get(), "triggerStatusTx", Qt::QueuedConnection, Q_ARG(quint16, serial),
                                  Q_ARG(int, intervalMs));
        // Wait for the whole stream, then a little longer for any surplus.
        if (!QTest::qWaitFor([&] { return m_status.value(serial).size() >= expected; }, 8000))
            qWarning("status stream of %u: %d of %d datagrams", serial, m_status.value(serial).size(), expected);
        QTest::qWait(300);
        return m_status.value(serial);
    }

private slots:
    void initTestCase()
    {
        if (!ZunNetnsRig::privateNetnsReady())
            QSKIP(qPrintable(ZunNetnsRig::notReadyReason()));
        QString why;
        QVERIFY2(m_rig.setUp(&why), qPrintable(why));
        for (const Proc& p : Procs) {
            QStringList opts {"--name", p.name, "--firmware", QString::number(p.firmware)};
            if (!p.broadcast)
                opts << "--no-broadcast-answer";
            QVERIFY2(m_rig.startSim(p.serial, opts, &why), qPrintable(why));
        }
        m_clock.start();
        m_net = std::make_unique<CZunNetwork>();
        m_net->setClock([this] { return m_clock.elapsed() + m_offset.load(); });
        connect(m_net.get(), &CZunNetwork::zunStatusBatchReceived, this, [this](ZunStatusBatch batch) {
            for (const ZunStatusDatagram& d : qAsConst(batch))
                m_status[d.serial] << d.bytes;
        });
        connect(m_net.get(), &CZunNetwork::timeoutTcpCheck, this, [this] { ++m_ticks; });
        m_net->start();
        QMetaObject::invokeMethod(m_net.get(), "startBroadcasting", Qt::QueuedConnection);
        // Every function starts with the processors that answer the ping listed, so that
        // each runs by itself too.
        QTRY_COMPARE_WITH_TIMEOUT(m_net->getDeviceList().size(), 3, 10000);
    }

    void cleanupTestCase()
    {
        m_net.reset();
        m_rig.tearDown();
    }

    void threeProcessorsAreListed()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_net->getDeviceList().size(), 3, 10000);
        for (const Proc& p : Procs) {
            const auto d = device(p.serial);
            if (!p.broadcast) {
                QVERIFY(!d);
                continue;
            }
            QVERIFY2(d, qPrintable(p.name));
            QCOMPARE(d->getName(), p.name);
            QCOMPARE(d->firmware(), quint16(p.firmware));
            QCOMPARE(d->getFirmwareString(), QStringLiteral("%1.0").arg(p.firmware));
            QCOMPARE(d->getIpAddress(), m_rig.sim(p.serial)->address);
            QCOMPARE(d->adapterIp(), ZunNetnsRig::hostAddress());
            QVERIFY(d->isLive());
        }
        // Another round of pings finds no more.
        const int ticks = m_ticks;
        QTRY_VERIFY_WITH_TIMEOUT(m_ticks >= ticks + 2, 8000);
        QCOMPARE(m_net->getDeviceList().size(), 3);
    }

    void silentProcessorIsNotLive()
    {
        QVERIFY(m_rig.control(0x0203, QStringLiteral("silent")));
        QTest::qWait(200);
        // Jump the clock past the live time instead of waiting for it.
        m_offset += CZunNetwork::LiveTimeoutMs + 1000;
        QTRY_VERIFY_WITH_TIMEOUT(!device(0x0203)->isLive() && device(0x0101)->isLive() && device(0x0102)->isLive(), 10000);
        const int ticks = m_ticks;
        QTRY_VERIFY_WITH_TIMEOUT(m_ticks >= ticks + 2, 8000);
        QVERIFY(!device(0x0203)->isLive());

        QVERIFY(m_rig.control(0x0203, QStringLiteral("silent off")));
        QTRY_VERIFY_WITH_TIMEOUT(device(0x0203)->isLive(), 10000);
    }

    void scanFindsProcessorThatIgnoresBroadcast()
    {
        QVERIFY(!device(0x0304));
        QList<QSharedPointer<ZunDeviceStats>> detected;
        auto c = connect(m_net.get(), &CZunNetwork::zunDetected, this,
                         [&](QSharedPointer<ZunDeviceStats> d) { detected << d; }, Qt::DirectConnection);
        QStringList errors;
        auto e = connect(m_net.get(), &CZunNetwork::signal_exception, this,
                         [&](QString text, QString) { errors << text; }, Qt::DirectConnection);
        m_net->scanNetwork(); // in this thread, as the network monitor calls it
        disconnect(c);
        disconnect(e);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        QCOMPARE(detected.size(), 1);
        QCOMPARE(detected[0]->serial(), quint16(0x0304));
        QCOMPARE(detected[0]->getIpAddress(), m_rig.sim(0x0304)->address);
        QCOMPARE(detected[0]->firmware(), quint16(0)); // left to the version probe
        QCOMPARE(m_net->getDeviceList().size(), 4);
        // Scanning again adds nothing.
        m_net->scanNetwork();
        QCOMPARE(m_net->getDeviceList().size(), 4);
    }

    void statusStreamArrivesAtTheAskedRate()
    {
        listEvenTheSilentOne();
        // 20 ms for 2.5 s: 125 datagrams of the 1077-1080 record size.
        const QList<QByteArray> fast = streamOf(0x0101, 20, 125);
        QCOMPARE(fast.size(), 125);
        for (const QByteArray& d : fast)
            QCOMPARE(d.size(), 4 + 108);
        // The levels move.
        QVERIFY(fast.first().mid(4 + 8, 8) != fast.last().mid(4 + 8, 8));

        // The processor found by the scan streams the 1075-1076 record.
        const QList<QByteArray> slow = streamOf(0x0304, 100, 25);
        QCOMPARE(slow.size(), 25);
        QCOMPARE(slow.first().size(), 4 + 106);
    }

    void slowerRequestDoesNotReplaceRunningStream()
    {
        m_status.remove(0x0102);
        QMetaObject::invokeMethod(m_net.get(), "triggerStatusTx", Qt::QueuedConnection, Q_ARG(quint16, 0x0102), Q_ARG(int, 20));
        QTRY_VERIFY_WITH_TIMEOUT(m_status.value(0x0102).size() >= 20, 5000);
        // The status monitor's slower request while the fast stream runs goes nowhere:
        // had it reached the processor, the stream would have ended after about 45.
        QMetaObject::invokeMethod(m_net.get(), "triggerStatusTx", Qt::QueuedConnection, Q_ARG(quint16, 0x0102), Q_ARG(int, 100));
        QTRY_VERIFY_WITH_TIMEOUT(m_status.value(0x0102).size() >= 125, 8000);
        QTest::qWait(300);
        QCOMPARE(m_status.value(0x0102).size(), 125);
    }

    // A control window streams one processor every 20 ms while the status monitor asks
    // another for 100 ms, each renewed before its stream ends (as both do): the slow
    // stream must not be refused because of the other processor's fast one.
    void fastAndSlowStreamsOfTwoProcessorsRunWithoutGaps()
    {
        const QList<QPair<quint16, int>> streams {{0x0101, 20}, {0x0102, 100}};
        QHash<quint16, QList<qint64>> arrivals;
        QElapsedTimer t;
        t.start();
        auto c = connect(m_net.get(), &CZunNetwork::zunStatusBatchReceived, this, [&](ZunStatusBatch batch) {
            for (const ZunStatusDatagram& d : qAsConst(batch))
                arrivals[d.serial] << t.elapsed();
        });
        QTimer renewal;
        renewal.setInterval(2000);
        const auto renew = [&] {
            for (const auto& s : streams)
                QMetaObject::invokeMethod(m_net.get(), "triggerStatusTx", Qt::QueuedConnection,
                                          Q_ARG(quint16, s.first), Q_ARG(int, s.second));
        };
        connect(&renewal, &QTimer::timeout, this, renew);
        renew();
        renewal.start();
        // 6.5 s of the slow stream; refused renewals would leave it 1.5 s gaps.
        const bool complete = QTest::qWaitFor([&] { return arrivals.value(0x0102).size() >= 65; }, 9000);
        // Batched at the meters' frame while the fast stream may run, at the slow stream's
        // pace once it can no longer.
        QCOMPARE(m_net->statusBatchMs(), CZunNetwork::StatusBatchMs);
        renewal.stop();
        QTRY_COMPARE_WITH_TIMEOUT(m_net->statusBatchMs(), CZunNetwork::StatusSlowBatchMs, CZunNetwork::StatusStreamMs + 2000);
        // Let both streams run out, so that later requests start afresh.
        QTRY_VERIFY_WITH_TIMEOUT(t.elapsed() - qMax(arrivals.value(0x0101).last(), arrivals.value(0x0102).last()) > 400,
                                 5000);
        disconnect(c);
        QVERIFY2(complete, qPrintable(QString::number(arrivals.value(0x0102).size())));
        for (const auto& s : streams) {
            const QList<qint64> a = arrivals.value(s.first);
            qint64 worst = 0;
            for (int i = 1; i < a.size() - 1; ++i) // up to the end of the last stream
                worst = qMax(worst, a[i] - a[i - 1]);
            QVERIFY2(worst < 5 * s.second + 300, qPrintable(QStringLiteral("%1: gap of %2 ms").arg(s.first).arg(worst)));
        }
        QVERIFY(arrivals.value(0x0101).size() >= 6 * arrivals.value(0x0102).size() / 2);
    }

    void interfaceChoiceRestrictsTheScan()
    {
        listEvenTheSilentOne();
        QStringList errors;
        auto e = connect(m_net.get(), &CZunNetwork::signal_exception, this,
                         [&](QString text, QString) { errors << text; }, Qt::DirectConnection);
        m_net->setUseNIC(0x7FFFFFF); // no such interface
        m_net->scanNetwork();
        m_net->setUseNIC(0);
        disconnect(e);
        QCOMPARE(errors, QStringList {QStringLiteral("No network interface to scan.")});
        QCOMPARE(m_net->getDeviceList().size(), 4);
    }

    void muteAllReachesEveryProcessor()
    {
        listEvenTheSilentOne();
        const auto list = m_net->getDeviceList();
        QCOMPARE(list.size(), 4);
        for (const auto& d : list)
            m_net->masterMute(d->serial(), true); // directly, from this thread
        for (const auto& d : list) {
            const QList<QByteArray> s = streamOf(d->serial(), 500, 5);
            QVERIFY(!s.isEmpty());
            // Stat_Status2 (word 2 of the record) bit 2: master mute.
            QVERIFY2(ZunUdpDatagram::word(s.last(), 4 + 2 * 2) & 0x0004, qPrintable(d->getName()));
        }
        m_net->masterMute(0x0101, false);
        const QList<QByteArray> s = streamOf(0x0101, 500, 5);
        QVERIFY(!(ZunUdpDatagram::word(s.last(), 4 + 2 * 2) & 0x0004));
    }

    // Status datagrams reach the GUI thread in batches: none lost, none reordered, and
    // fewer hand-overs than datagrams.
    void statusBurstsArriveWholeInOrderAndBatched()
    {
        constexpr quint16 Serial = 0x0909;
        const QHostAddress own(QStringLiteral("127.0.0.9"));
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(own.toIPv4Address());
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(ZunUdpDatagram::Port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const auto send = [&](const QByteArray& d) {
            return ::sendto(fd, d.constData(), size_t(d.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to)
                == d.size();
        };

        ZunUdpDatagram::Announce an;
        an.mac = CMacAddr::fromSerial(Serial);
        an.versionWord = 1080;
        an.name = QStringLiteral("Burst");
        an.ip = CIpAddr(own);
        QVERIFY(QTest::qWaitFor([&] { return send(ZunUdpDatagram::encodeAnnounce(an)) && device(Serial); }, 10000));

        QList<int> seen;
        int batches = 0;
        auto c = connect(m_net.get(), &CZunNetwork::zunStatusBatchReceived, this, [&](ZunStatusBatch batch) {
            ++batches;
            for (const ZunStatusDatagram& d : qAsConst(batch))
                if (d.serial == Serial)
                    seen << ZunUdpDatagram::word(d.bytes, ZunUdpDatagram::StatusHeaderSize);
        });
        // Each burst waits for the one before. A burst sent while a batch waits stays in the
        // socket until the batch is read: the last is more than a socket's default buffer
        // holds (many processors streaming at once).
        const QList<int> bursts {50, 50, 50, 350};
        int total = 0;
        for (int size : bursts) {
            for (int i = 0; i < size; ++i, ++total) {
                QByteArray record(ZunUdpDatagram::StatusRecordLarge, '\0');
                record[0] = char(total & 0xFF);
                record[1] = char(total >> 8);
                QVERIFY(send(ZunUdpDatagram::statusDatagram(record)));
            }
            QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= total, 10000);
        }
        QTest::qWait(100); // nothing more, nothing twice
        disconnect(c);
        ::close(fd);
        QCOMPARE(seen.size(), total);
        for (int n = 0; n < seen.size(); ++n)
            QCOMPARE(seen[n], n);
        QVERIFY2(batches < total, qPrintable(QString::number(batches)));
    }

    // A second program starts beside this one: each keeps hearing the processors and lists
    // them live, and the second tells where it listens. Mended: both shared port 1234,
    // whose answers reached only the newer, and the older listed every processor offline.
    void aSecondProgramLeavesTheFirstItsProcessors()
    {
        CZunNetwork newer;
        QList<quint16> ports;
        connect(&newer, &CZunNetwork::signal_PortHeldElsewhere, this, [&](quint16 port) { ports << port; });
        newer.start();
        QMetaObject::invokeMethod(&newer, "startBroadcasting", Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(newer.getDeviceList().size() >= 3, 10000);
        // What this one heard before goes stale at its next tick: only what it hears from
        // then on makes it live again.
        m_offset += CZunNetwork::LiveTimeoutMs + 1;
        const int ticks = m_ticks;
        QTRY_VERIFY_WITH_TIMEOUT(m_ticks > ticks, 10000);
        const auto allLive = [this]() {
            for (const Proc& p : Procs)
                if (p.broadcast && !(device(p.serial) && device(p.serial)->isLive()))
                    return false;
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(allLive(), 3 * CZunNetwork::TickMs);
        QCOMPARE(ports.size(), 1);
        QVERIFY(ports[0] != ZunUdpDatagram::Port);
    }

    // Another program holds port 1234 exclusively: said once, discovery still works (the
    // processors answer to the port the ping came from).
    void portTakenByAnotherProgram()
    {
        m_net.reset();
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(ZunUdpDatagram::Port);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

        CZunNetwork net;
        QStringList errors;
        QList<quint16> ports;
        connect(&net, &CZunNetwork::signal_exception, this, [&](QString text, QString) { errors << text; });
        connect(&net, &CZunNetwork::signal_PortHeldElsewhere, this, [&](quint16 port) { ports << port; });
        net.start();
        QMetaObject::invokeMethod(&net, "startBroadcasting", Qt::QueuedConnection);
        QTRY_COMPARE_WITH_TIMEOUT(net.getDeviceList().size(), 3, 10000);
        QTest::qWait(2500); // another tick
        ::close(fd);
        QCOMPARE(errors, QStringList());
        QCOMPARE(ports.size(), 1);
    }
};

ZUN_NETNS_TEST_MAIN(TstDiscoveryNetns)
#include "tst_discovery_netns.moc"
