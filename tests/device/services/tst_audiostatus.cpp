#include "AudioIOStatus.h"
#include "AudioIOStatusServer.h"
#include "CCmdMap.h"

#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

QSharedPointer<CCmdMap> mapOf(quint16 version)
{
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(version);
    return map;
}

// A status datagram in the layout of the map's firmware: header 0xFF04, then the record
// with the named words set and every other word 0 except Stat_Status (idle).
class Datagram
{
public:
    explicit Datagram(const QSharedPointer<CCmdMap>& map) : m_map(map)
    {
        m_bytes = QByteArray(4 + map->getCmdNr("Inf_DSP_StatSize"), '\0');
        qToLittleEndian<quint16>(0xFF04, reinterpret_cast<uchar*>(m_bytes.data()));
        set("Stat_Status", map->getCmdNr("Msg_StatusIdle"));
    }
    Datagram& set(const QString& name, quint16 value)
    {
        return setIndex(m_map->getCmdNr(name), value);
    }
    Datagram& setIndex(int index, quint16 value)
    {
        qToLittleEndian<quint16>(value, reinterpret_cast<uchar*>(m_bytes.data() + 4 + 2 * index));
        return *this;
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QSharedPointer<CCmdMap> m_map;
    QByteArray m_bytes;
};

const quint16 RP41_IR41 = 0x21A1; // sources per slot: 1 2 1 2 3 4 3 4, paths A B A B E F E F

} // namespace

class TestAudioStatus : public QObject
{
    Q_OBJECT
private slots:
    void levelsGainReductionTemperatures_data()
    {
        QTest::addColumn<int>("version");
        QTest::newRow("1075") << 1075;
        QTest::newRow("1076") << 1076;
        QTest::newRow("1077") << 1077;
        QTest::newRow("1080") << 1080;
    }
    void levelsGainReductionTemperatures()
    {
        QFETCH(int, version);
        const auto map = mapOf(quint16(version));
        AudioIOStatus status(map);
        QCOMPARE(status.GetRecordSize(), version < 1077 ? 106u : 108u);
        QCOMPARE(status.GetOutputLevel(0), -100.0); // zeros before the first datagram

        Datagram d(map);
        d.set("Stat_0_LevelOut0", 65535).set("Stat_0_LevelOut3", 32768).set("Stat_1_LevelOut0", 0);
        d.set("Stat_1_LevelOut3", 6554);
        d.set("Stat_0_GainRed0", 32512).set("Stat_0_GainRed1", 16256).set("Stat_1_GainRed2", 0);
        d.set("Stat_1_Temp3", 1234).set("Stat_0_Temp0", 7);
        QVERIFY(status.refresh(d.bytes()));
        QCOMPARE(status.GetOutputLevel(0), 0.0);
        QCOMPARE(status.GetOutputLevel(3), -6.0);
        QCOMPARE(status.GetOutputLevel(4), -100.0);
        QCOMPARE(status.GetOutputLevel(7), -20.0);
        QCOMPARE(status.GetGainReduction(0), 0.0);
        QCOMPARE(status.GetGainReduction(1), 6.0);
        QCOMPARE(status.GetGainReduction(6), 100.0);
        QCOMPARE(status.GetTemperature(7), 1234.0);
        QCOMPARE(status.GetTemperature(0), 7.0);
        // outside the outputs: silence, no reduction, nothing read
        QCOMPARE(status.GetOutputLevel(8), -100.0);
        QCOMPARE(status.GetGainReduction(-1), 0.0);
        QCOMPARE(status.GetTemperature(8), 0.0);
    }

    // The dB the getters give is the formula's for every one of the 65,536 words, sign of
    // zero included: 20 log10 of the word over full scale (65535) or over no reduction
    // (32512), -99.99 for the word 0, rounded half up; a reduction turns its sign.
    void wholeDbOfEveryWord()
    {
        const auto formula = [](quint16 raw, double unity) {
            const double x = raw != 0 ? 20.0 * std::log10(raw / unity) : -99.99;
            return std::floor(x + 0.5);
        };
        const auto map = mapOf(1077);
        AudioIOStatus status(map);
        QVERIFY(status.SetRouting(RP41_IR41)); // sources 1 2 - - 3 4 on slots 0 1 4 5
        const int sourceSlots[][2] = {{1, 0}, {2, 1}, {3, 4}, {4, 5}};
        int levelIn[8], levelOut[8], gainRed[8];
        for (int i = 0; i < 8; ++i) {
            levelIn[i] = map->getCmdNr(QStringLiteral("Stat_%1_LevelIn%2").arg(i / 4).arg(i % 4));
            levelOut[i] = map->getCmdNr(QStringLiteral("Stat_%1_LevelOut%2").arg(i / 4).arg(i % 4));
            gainRed[i] = map->getCmdNr(QStringLiteral("Stat_%1_GainRed%2").arg(i / 4).arg(i % 4));
        }
        QStringList wrong;
        const auto check = [&wrong](const char* what, int raw, double got, double expected) {
            if (got != expected || std::signbit(got) != std::signbit(expected))
                wrong << QString::asprintf("%s of %d: %g, not %g", what, raw, got, expected);
        };
        Datagram d(map);
        for (int first = 0; first < 65536; first += 8) {
            for (int i = 0; i < 8; ++i) {
                const quint16 raw = quint16(first + i);
                d.setIndex(levelIn[i], raw).setIndex(levelOut[i], raw).setIndex(gainRed[i], raw);
            }
            QVERIFY(status.refresh(d.bytes()));
            for (int i = 0; i < 8; ++i) {
                const quint16 raw = quint16(first + i);
                check("level", raw, status.GetOutputLevel(i), formula(raw, 65535.0));
                check("reduction", raw, status.GetGainReduction(i), -formula(raw, 32512.0));
            }
            for (const auto& sourceSlot : sourceSlots) {
                const quint16 raw = quint16(first + sourceSlot[1]);
                check("input level", raw, status.GetInputLevel(sourceSlot[0]), formula(raw, 65535.0));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 5).join("; ")));
    }

    // Input levels are found through the routing and the firmware's own indexes.
    void inputLevelsFollowRoutingAndLayout_data()
    {
        QTest::addColumn<int>("version");
        QTest::newRow("1076") << 1076;
        QTest::newRow("1077") << 1077;
    }
    void inputLevelsFollowRoutingAndLayout()
    {
        QFETCH(int, version);
        const auto map = mapOf(quint16(version));
        AudioIOStatus status(map);
        Datagram d(map);
        d.set("Stat_0_LevelIn1", 65535).set("Stat_1_LevelIn0", 65530).set("Stat_1_LevelIn1", 65529);
        // the word one place up (1077's LevelIn1 on 1076) must not be read
        d.setIndex(map->getCmdNr("Stat_0_LevelIn1") + 1, 3000);
        QVERIFY(status.refresh(d.bytes()));

        // no routing yet: nothing placed
        QCOMPARE(status.GetInputLevel(2), -88.5);
        QVERIFY(!status.IsOverload(3));

        QVERIFY(status.SetRouting(RP41_IR41));
        QCOMPARE(status.GetInputLevel(2), 0.0); // slot 1
        QVERIFY(status.IsOverload(3));          // slot 4: 65530
        QVERIFY(!status.IsOverload(4));         // slot 5: 65529
        QVERIFY(status.IsOverload(2)); // 65535 too
        QCOMPARE(status.GetInputLevel(7), -88.5);       // on no slot
        QVERIFY(!status.IsOverload(7));
        QCOMPARE(status.GetInputLevel(26), -88.5);
    }

    void limiterAndMuteBits()
    {
        const auto map = mapOf(1078);
        AudioIOStatus status(map);
        status.SetRouting(RP41_IR41);
        Datagram d(map);
        d.set("Stat_0_LimStat", (1 << 1) | (1 << 6) | (1 << 9));
        d.set("Stat_1_LimStat", (1 << 3) | (1 << 10));
        d.set("Stat_Mute", (1 << 5) | (1 << (8 + 2)) | (1 << 0));
        QVERIFY(status.refresh(d.bytes()));
        const QList<int> peak{1, 7, 9};
        const QList<int> thermal{2, 10};
        for (int n = -1; n <= 12; ++n) {
            QCOMPARE(status.IsPeakLimiting(n), peak.contains(n));
            QCOMPARE(status.IsThermalLimiting(n), thermal.contains(n));
        }
        // inputs in bits 0-7 by path, outputs in bits 8-15
        QVERIFY(status.IsInputMuted(4));  // slot 5, path F
        QVERIFY(status.IsInputMuted(1));  // slot 0, path A
        QVERIFY(!status.IsInputMuted(3)); // slot 4, path E
        QVERIFY(!status.IsInputMuted(7)); // on no slot
        for (int o = -1; o <= 8; ++o)
            QCOMPARE(status.IsOutputMuted(o), o == 2);

        // before 1077 there is no mute word: every word set, still nothing muted
        const auto old = mapOf(1076);
        AudioIOStatus oldStatus(old);
        oldStatus.SetRouting(RP41_IR41);
        QByteArray ones(4 + 106, char(0xFF));
        qToLittleEndian<quint16>(0xFF04, reinterpret_cast<uchar*>(ones.data()));
        QVERIFY(oldStatus.refresh(ones));
        QVERIFY(!oldStatus.IsInputMuted(1));
        QVERIFY(!oldStatus.IsOutputMuted(0));
        QVERIFY(oldStatus.IsMasterMuted());
    }

    void statusWordAndCycles()
    {
        const auto map = mapOf(1077);
        AudioIOStatus status(map);
        QSignalSpy refreshed(&status, &AudioIOStatus::refreshed);
        QSignalSpy outOfSync(&status, &AudioIOStatus::signal_ZunOutOfSync);
        QSignalSpy changed(&status, &AudioIOStatus::ZunFrontPanelChanged);
        QSignalSpy cycles(&status, &AudioIOStatus::signal_CyclesSamplingRateChanged);

        Datagram d(map);
        d.set("Stat_0_SR", 12000).set("Stat_1_SR", 11025).set("Stat_0_CycMain", 400).set("Stat_1_CycMain", 803);
        status.refresh(d.bytes());
        status.refresh(d.bytes());
        QCOMPARE(refreshed.count(), 2);
        QCOMPARE(outOfSync.count(), 0);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(cycles.count(), 1);
        QCOMPARE(cycles.first(), (QVariantList{48000, 44100, 100, 200}));

        d.set("Stat_Status", map->getCmdNr("Msg_CmdChangeN"));
        status.refresh(d.bytes());
        status.refresh(d.bytes());
        QCOMPARE(outOfSync.count(), 2);
        d.set("Stat_Status", 12);
        status.refresh(d.bytes());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().first().value<quint16>(), quint16(12));
        d.set("Stat_Status", 1700); // beyond the image: ignored
        status.refresh(d.bytes());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(outOfSync.count(), 2);
        d.set("Stat_1_CycMain", 807);
        status.refresh(d.bytes());
        QCOMPARE(cycles.count(), 2);
        QCOMPARE(cycles.last(), (QVariantList{48000, 44100, 100, 201}));
    }

    void masterMuteAndDigitalLockPerProcessor()
    {
        const auto map = mapOf(1079);
        AudioIOStatus a(map);
        AudioIOStatus b(map);
        QSignalSpy logA(&a, &AudioIOStatus::signal_toLogFile);
        QSignalSpy logB(&b, &AudioIOStatus::signal_toLogFile);
        Datagram locked(map);
        locked.set("Stat_Status2", 0x1);
        Datagram unlockedMuted(map);
        unlockedMuted.set("Stat_Status2", 0x4);

        a.refresh(unlockedMuted.bytes());
        b.refresh(locked.bytes());
        QVERIFY(a.IsMasterMuted());
        QVERIFY(!b.IsMasterMuted());
        QVERIFY(!a.onDigitalLockChanged());
        QVERIFY(!a.onDigitalLockChanged());
        QVERIFY(b.onDigitalLockChanged()); // a's change is not b's
        QCOMPARE(logA.count(), 1);
        QCOMPARE(logA.first().first().toString(), QStringLiteral("Digital Lock changed to unlocked"));
        QCOMPARE(logB.count(), 0);
        a.refresh(locked.bytes());
        QVERIFY(a.onDigitalLockChanged());
        QCOMPARE(logA.last().first().toString(), QStringLiteral("Digital Lock changed to locked"));
    }

    // Malformed datagrams are dropped whole: no signal, the last record stays.
    void shortAndGarbledDatagrams()
    {
        const auto map = mapOf(1077);
        AudioIOStatus status(map);
        QSignalSpy refreshed(&status, &AudioIOStatus::refreshed);
        Datagram good(map);
        good.set("Stat_0_LevelOut0", 65535);
        QVERIFY(status.refresh(good.bytes()));

        Datagram other(map);
        other.set("Stat_Status", 12).set("Stat_0_LevelOut0", 0);
        QByteArray wrongHeader = other.bytes();
        wrongHeader[0] = 0x05;
        const QList<QByteArray> bad{QByteArray(), QByteArray(1, '\x04'), QByteArray("\x04\xFF", 2),
                                    other.bytes().left(4 + 106), other.bytes().left(4 + 107), wrongHeader};
        const auto oldLayout = Datagram(mapOf(1076)).bytes(); // 106-byte record of older firmware
        for (const QByteArray& datagram : bad + QList<QByteArray>{oldLayout}) {
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^AudioIOStatus: status datagram dropped"));
            QVERIFY(!status.refresh(datagram));
        }
        QCOMPARE(refreshed.count(), 1);
        QCOMPARE(status.GetOutputLevel(0), 0.0);

        // a longer datagram is read up to its record's end only
        QVERIFY(status.refresh(other.bytes() + QByteArray(64, '\xFF')));
        QCOMPARE(status.GetRecord().size(), 108);
        QCOMPARE(status.GetOutputLevel(0), -100.0);
    }

    void serverRecordsAndMasterMute()
    {
        const auto map = mapOf(1077);
        AudioIOStatusServer server;
        QSignalSpy mute(&server, &AudioIOStatusServer::masterMuteStatusChanged);
        QSignalSpy served(&server, &AudioIOStatusServer::serveAudioStats);

        const auto a = server.addStatus(0x0101, map, RP41_IR41);
        const auto b = server.addStatus(0x0202, map, 0x1191);
        QCOMPARE(server.addStatus(0x0101, map, 0x1191), a); // unchanged, routing too
        QCOMPARE(a->GetRouting().getRoutingWord().word, RP41_IR41);
        QCOMPARE(b->GetRouting().FindSlotOfSource(2), 4);
        QVERIFY(server.getStatus(0x0303).isNull());

        Datagram muted(map);
        muted.set("Stat_Status2", 0x4);
        Datagram open(map);
        server.setStatusData(0x0303, muted.bytes()); // unknown: dropped
        server.setStatusData(0x0101, muted.bytes());
        QCOMPARE(mute.count(), 0); // b not yet muted
        server.setStatusData(0x0202, muted.bytes());
        server.setStatusData(0x0202, muted.bytes());
        QCOMPARE(mute.count(), 1);
        QCOMPARE(mute.first().first().toBool(), true);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^AudioIOStatus: status datagram dropped"));
        server.setStatusData(0x0101, QByteArray("\x04\xFF", 2)); // garbled: no change
        QCOMPARE(mute.count(), 1);
        server.setStatusData(0x0101, open.bytes());
        QCOMPARE(mute.count(), 2);
        QCOMPARE(mute.last().first().toBool(), false);
        QVERIFY(!server.masterMuteStatus());

        // A batch: every datagram refreshes its record in turn; each record's readers are
        // told once, after the batch (in the order the records first came), and the
        // master-mute state follows where the batch ends.
        QList<quint16> refreshedBy;
        connect(a.data(), &AudioIOStatus::refreshed, this, [&] { refreshedBy << 0x0101; });
        connect(b.data(), &AudioIOStatus::refreshed, this, [&] { refreshedBy << 0x0202; });
        QSignalSpy batches(&server, &AudioIOStatusServer::signal_batchRefreshed);
        server.setStatusBatch({{0x0101, muted.bytes()}, {0x0303, muted.bytes()}, {0x0202, open.bytes()},
                               {0x0202, muted.bytes()}, {0x0101, muted.bytes()}});
        QCOMPARE(refreshedBy, (QList<quint16> {0x0101, 0x0202}));
        QCOMPARE(batches.size(), 1);
        QCOMPARE(batches[0][0].value<QVector<quint16>>(), (QVector<quint16> {0x0101, 0x0202}));
        QCOMPARE(mute.count(), 3);
        QVERIFY(server.masterMuteStatus());
        server.setStatusBatch({{0x0101, open.bytes()}});
        QCOMPARE(mute.count(), 4);
        QVERIFY(!server.masterMuteStatus());

        // A record is told while it has readers, however the others left: a receiver
        // destroyed, a disconnection from every signal at once.
        refreshedBy.clear();
        disconnect(a.data(), &AudioIOStatus::refreshed, this, nullptr);
        auto* gone = new QObject;
        connect(a.data(), &AudioIOStatus::refreshed, gone, [&] { refreshedBy << 0x0101; });
        QObject all;
        connect(a.data(), &AudioIOStatus::refreshed, &all, [&] { refreshedBy << 0x0101; });
        connect(a.data(), &AudioIOStatus::signal_ZunOutOfSync, &all, [] {});
        server.setStatusBatch({{0x0101, open.bytes()}});
        QCOMPARE(refreshedBy.size(), 2);
        delete gone;
        QVERIFY(disconnect(a.data(), nullptr, &all, nullptr));
        QVERIFY(!a->hasRefreshReaders());
        QSignalSpy later(a.data(), &AudioIOStatus::refreshed);
        server.setStatusBatch({{0x0101, open.bytes()}});
        QCOMPARE(later.size(), 1);
        QCOMPARE(refreshedBy.size(), 2);
        QCOMPARE(batches.size(), 4); // told with or without readers

        server.onRoutingChanged(0x0202, RP41_IR41);
        QCOMPARE(b->GetRouting().FindSlotOfSource(2), 1);
        server.onRequest(0x0202);
        server.onRequest(0x0404);
        QCOMPARE(served.count(), 1);
        QCOMPARE(served.first().at(1).value<QSharedPointer<AudioIOStatus>>(), b);

        server.removeStatus(0x0101);
        QVERIFY(server.getStatus(0x0101).isNull());
        QVERIFY(a); // still held here
        server.removeStatus(0x0202);
        server.evaluteMasterMuteStatus(); // no processors: not "all muted"
        QCOMPARE(mute.count(), 4);
    }

    // A processor updated to a firmware with the longer record keeps its record object,
    // which decodes the new layout.
    void firmwareUpdateTakesTheNewLayout()
    {
        AudioIOStatusServer server;
        const auto before = server.addStatus(0x0707, mapOf(1076), RP41_IR41);
        QCOMPARE(before->GetRecordSize(), 106u);
        const auto newer = mapOf(1077);
        const auto after = server.addStatus(0x0707, newer, RP41_IR41);
        QCOMPARE(after, before);
        QCOMPARE(after->GetRecordSize(), 108u);
        server.setStatusData(0x0707, Datagram(newer).set("Stat_0_LevelIn1", 65535).bytes());
        QCOMPARE(after->GetInputLevel(2), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestAudioStatus)
#include "tst_audiostatus.moc"
