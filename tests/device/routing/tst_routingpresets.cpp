#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "CZunFullRoutingPreset.h"
#include "CZunRoutingRecord.h"
#include "CZunRoutingWord.h"
#include "RoutingServer.h"
#include "ZunRoutingMetaTypes.h"

#include <QtTest>

namespace {

QSharedPointer<CCmdMap> mapOf(quint16 version)
{
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(version);
    return map;
}

template <typename T> QStringList namesOf(const QList<T>& presets)
{
    QStringList names;
    for (const T& p : presets)
        names << p.getName();
    return names;
}

QString frName(const char* digits)
{
    return QStringLiteral("Inf_FR_") + QLatin1String(digits);
}

} // namespace

class TestRoutingPresets : public QObject
{
    Q_OBJECT
private slots:
    void routingWords()
    {
        const CZunRoutingWord w(0x3861);
        QCOMPARE(w.rpNumber, quint16(0x61));
        QCOMPARE(w.rpGroup, quint16(6));
        QCOMPARE(w.irNumber, quint16(0x70));
        QCOMPARE(w.irGroup, quint16(7));
        QCOMPARE(w.topBit, quint16(0));
        QCOMPARE(CZunRoutingWord::compose(0x61, 0x70), quint16(0x3861));
        QCOMPARE(CZunRoutingWord(0x8000 | 0x3861).topBit, quint16(1));
        QCOMPARE(CZunRoutingWord(0x8000 | 0x3861).irNumber, quint16(0x70));

        const CZunRoutingWord d;
        QCOMPARE(d.word, quint16(0x1291));
        QCOMPARE(d.rpNumber, quint16(17));
        QCOMPARE(d.rpGroup, quint16(1));
        QCOMPARE(d.irNumber, quint16(37));
        QCOMPARE(d.irGroup, quint16(2));
    }

    // Every full routing's word leads to its presets, and the presets compose it again.
    void wordsToPresetsAndBack_data()
    {
        QTest::addColumn<int>("version");
        for (quint16 v : CCmdMap::versions())
            QTest::newRow(qPrintable(QString::number(v))) << int(v);
    }
    void wordsToPresetsAndBack()
    {
        QFETCH(int, version);
        const auto map = mapOf(quint16(version));
        const CRoutingLibrary lib(map);
        QCOMPARE(lib.GetFullRoutingPresets().size(), 16);
        for (const CZunFullRoutingPreset& full : lib.GetFullRoutingPresets()) {
            const quint16 word = full.getRoutingWord().word;
            const CZunRoutingPreset rp = lib.FindRoutingPreset(word);
            const CZunInputPreset ir = lib.FindInputPreset(word);
            QVERIFY(!rp.getName().isEmpty());
            QVERIFY(!ir.getName().isEmpty());
            QCOMPARE(rp.getName(), full.GetRoutingPreset().getName());
            QCOMPARE(ir.getName(), full.GetInputPreset().getName());
            QCOMPARE(CZunRoutingWord::compose(rp.getNumber(), ir.getNumber()), word);
            const CZunRoutingRecord record(map, word);
            QCOMPARE(record.getRoutingPreset().getName(), rp.getName());
            QCOMPARE(record.getInputPreset().getName(), ir.getName());
            // the pattern words find the preset again, and it equals itself
            const CZunFullRoutingPreset again =
                lib.FindFullRoutingPreset(quint16(full.getPattern()), quint16(full.getPattern() >> 16));
            QCOMPARE(again.getName(), full.getName());
            QVERIFY(lib.FindFullRouting(full).size() >= 1);
        }
    }

    void presetContents()
    {
        const auto map = mapOf(1080);
        const CZunRoutingPreset rp(map, QStringLiteral("Inf_RP_21"));
        QCOMPARE(rp.getName(), QStringLiteral("RP_21"));
        QCOMPARE(rp.getNumber(), quint16(0x11));
        QCOMPARE(rp.getDescription(), QStringLiteral("2x 1->4 "));
        QCOMPARE(rp.getSlots(), (QList<int>{0, 0, 0, 0, 4, 4, 4, 4, 0, 4}));
        QCOMPARE(rp.getNodeNames().first(), QStringLiteral("Node 0"));
        QCOMPARE(rp.getNodeNames().size(), 10);
        QCOMPARE(rp.GetSlotOfOutput(4), 4);
        QCOMPARE(rp.GetSlotOfOutput(9), 4); // the tenth number
        QCOMPARE(rp.GetSlotOfOutput(10), 8);
        QCOMPARE(rp.GetSlotOfOutput(-1), 8);
        QVERIFY(rp.UsesSlot(4));
        QVERIFY(!rp.UsesSlot(1));

        const CZunInputPreset ir(map, QStringLiteral("Inf_IR_41"));
        QCOMPARE(ir.getName(), QStringLiteral("IR_41"));
        QCOMPARE(ir.getNumber(), quint16(0x43));
        QCOMPARE(ir.getSources(), (QList<int>{1, 2, 1, 2, 3, 4, 3, 4}));
        QCOMPARE(ir.getInputNames().at(1), QStringLiteral("Analog 2"));
        QCOMPARE(ir.getLabelText(), QStringLiteral("1 |2 |1 |2 |3 |4 |3 |4 "));
        QCOMPARE(ir.getKeypadInfo(), (QList<int>{0, 1, 0, 1, 4, 5, 4, 5}));
        QVERIFY(!ir.usesModule());
        QVERIFY(CZunInputPreset(map, QStringLiteral("Inf_IR_45")).usesModule());
        QVERIFY(CZunInputPreset(map, QStringLiteral("Inf_IR_83")).usesModule());
        QVERIFY(!CZunInputPreset(map, QStringLiteral("Inf_IR_46")).usesModule()); // mixers 24/25

        // by number
        QCOMPARE(CZunRoutingPreset(map, quint16(0x24)).getName(), QStringLiteral("RP_44"));
        QCOMPARE(CZunInputPreset(map, quint16(0x67)).getName(), QStringLiteral("IR_83"));

        // a firmware without tables lacks every name
        const auto none = mapOf(1070);
        QVERIFY_EXCEPTION_THROWN(CZunRoutingPreset(none, QStringLiteral("Inf_RP_21")), CCmdMap::invalid_cmd);
        QVERIFY_EXCEPTION_THROWN(CZunInputPreset(map, QStringLiteral("Inf_IR_99")), CCmdMap::invalid_cmd);
        QVERIFY_EXCEPTION_THROWN(CZunFullRoutingPreset(map, QStringLiteral("Inf_FR_0101")), CCmdMap::invalid_cmd);
    }

    // Every look-up that finds nothing answers the "none" value.
    void lookupsThatFindNothing()
    {
        const auto map = mapOf(1077);
        const CZunRoutingPreset emptyRp(map, quint16(0x7F));
        QCOMPARE(emptyRp.getNumber(), quint16(0));
        QVERIFY(emptyRp.getSlots().isEmpty());
        QCOMPARE(emptyRp.GetSlotOfOutput(0), 8);
        const CZunInputPreset emptyIr(map, quint16(0));
        QCOMPARE(emptyIr.GetSourceOfSlot(0), 26);
        QCOMPARE(emptyIr.GetKeypadInfoOfSlot(0), 99);

        const CZunInputPreset ir(map, QStringLiteral("Inf_IR_21"));
        QCOMPARE(ir.GetSourceOfSlot(8), 26);
        QCOMPARE(ir.GetKeypadInfoOfSlot(8), 99);
        QCOMPARE(ir.GetSourceOfSlot(-3), 26);

        // defaults
        QCOMPARE(CZunRoutingPreset().getNodeNames(), QStringList(QString()));
        QCOMPARE(CZunInputPreset().getInputNames(), QStringList(QString()));
        QCOMPARE(CZunFullRoutingPreset().getRoutingWord().word, quint16(0x1291));

        // a word naming no presets
        const CZunRoutingRecord nothing(map, 0);
        QCOMPARE(nothing.GetSourceOfOutput(0), 26);
        QCOMPARE(nothing.GetSourceOfSlot(0), 26);
        QCOMPARE(nothing.FindSlotOfSource(1), 8);
        QCOMPARE(nothing.FindSlotOfSource(26), 8); // "no source" is on no slot
        QCOMPARE(nothing.GetKeypadInfoOfSource(1), 99);
        QCOMPARE(CZunRoutingRecord().FindSlotOfSource(26), 8);

        const CRoutingLibrary lib(map);
        QCOMPARE(lib.FindRoutingPreset(0x7F).getNumber(), quint16(0));
        QVERIFY(lib.FindRoutingPreset(0x7F).getName().isEmpty());
        QCOMPARE(lib.FindInputPreset(0x7F00).getNumber(), quint16(0));
        QCOMPARE(lib.FindFullRoutingPreset(0, 0).getPattern(), quint32(0));
        QVERIFY(lib.FindFullRoutingPreset(0, 0).getName().isEmpty());

        RoutingServer server;
        QVERIFY(server.getLibrary(1077).isNull());
    }

    void routingRecord()
    {
        const auto map = mapOf(1076);
        const CZunRoutingRecord stereo(map, 0x1191); // RP_21 with IR_21
        for (int o = 0; o < 8; ++o)
            QCOMPARE(stereo.GetSourceOfOutput(o), o < 4 ? 1 : 2);
        QCOMPARE(stereo.GetSourceOfSlot(1), 26); // RP_21 uses slots 0 and 4 only
        QCOMPARE(stereo.GetSourceOfSlot(4), 2);
        QCOMPARE(stereo.FindSlotOfSource(2), 4);
        QCOMPARE(stereo.GetKeypadInfoOfSource(2), 4);

        const CZunRoutingRecord four(map, 0x21A1); // RP_41 with IR_41
        QCOMPARE(four.GetSourceOfOutput(2), 2);
        QCOMPARE(four.GetSourceOfOutput(6), 4);
        QCOMPARE(four.FindSlotOfSource(4), 5);
        QCOMPARE(four.GetKeypadInfoOfSource(4), 5);
        QCOMPARE(four.FindSlotOfSource(7), 8);
    }

    void libraryOrder_data()
    {
        QTest::addColumn<int>("version");
        for (quint16 v : CCmdMap::versions())
            QTest::newRow(qPrintable(QString::number(v))) << int(v);
    }
    void libraryOrder()
    {
        QFETCH(int, version);
        const auto map = mapOf(quint16(version));
        const CRoutingLibrary lib(map);
        QCOMPARE(namesOf(lib.GetRoutingPresets()),
                 QString("RP_43 RP_42 RP_21 RP_61 RP_41 RP_44 RP_45 RP_71 RP_81").split(' '));
        // input presets by label text; equal labels keep their names' order
        QCOMPARE(namesOf(lib.GetInputPresets(CZunRoutingPreset())),
                 QString("IR_41 IR_42 IR_45 IR_81 IR_82 IR_83 IR_84 IR_49 IR_21 IR_22 IR_23 IR_24 IR_25 IR_43 "
                         "IR_44 IR_47 IR_48 IR_46 IR_13 IR_11 IR_12 IR_14 IR_15")
                     .split(' '));
        QStringList full;
        for (const CZunFullRoutingPreset& p : lib.GetFullRoutingPresets())
            full << p.getName() + QString::number(p.getVariant());
        QCOMPARE(full.mid(0, 7), (QStringList{"2xAES In 2x1->4 1", "2xAES SRC In 2x1->4 1", "2xAna DRC In 2x1->4 1",
                                             "2xAna In 2x1->4 1", "2xDante In 2x1->4 1", "4xAES In 4x1->2 2",
                                             "4xAES In 4x1->2 3"}));
        QCOMPARE(full.last(), QStringLiteral("8xDante In 8x1->1 4"));
    }

    // The fitting input presets come first, in the order the swaps leave.
    void fitReordering_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("routing");
        QTest::addColumn<int>("fitting");
        QTest::addColumn<QString>("order");
        const QString rp21 = "IR_15 IR_14 IR_12 IR_11 IR_13 IR_25 IR_24 IR_23 IR_21 IR_22 IR_49 IR_84 IR_83 IR_43 IR_44 "
                             "IR_47 IR_48 IR_46 IR_82 IR_81 IR_45 IR_42 IR_41";
        const QString rp41 = "IR_41 IR_42 IR_45 IR_46 IR_48 IR_47 IR_44 IR_49 IR_43 IR_22 IR_23 IR_24 IR_25 IR_21 IR_84 "
                             "IR_83 IR_82 IR_81 IR_13 IR_11 IR_12 IR_14 IR_15";
        const QString rp81 = "IR_84 IR_83 IR_82 IR_81 IR_45 IR_42 IR_41 IR_49 IR_21 IR_22 IR_23 IR_24 IR_25 IR_43 IR_44 "
                             "IR_47 IR_48 IR_46 IR_13 IR_11 IR_12 IR_14 IR_15";
        for (quint16 v : CCmdMap::versions()) {
            const QByteArray n = QByteArray::number(v);
            QTest::newRow(n + " RP_21") << int(v) << "Inf_RP_21" << 10 << rp21;
            QTest::newRow(n + " RP_41") << int(v) << "Inf_RP_41" << 9 << rp41;
            QTest::newRow(n + " RP_45") << int(v) << "Inf_RP_45" << 9 << rp41;
            QTest::newRow(n + " RP_81") << int(v) << "Inf_RP_81" << 4 << rp81;
            QTest::newRow(n + " RP_61") << int(v) << "Inf_RP_61" << 4 << rp81;
        }
    }
    void fitReordering()
    {
        QFETCH(int, version);
        QFETCH(QString, routing);
        QFETCH(int, fitting);
        QFETCH(QString, order);
        const auto map = mapOf(quint16(version));
        const CRoutingLibrary lib(map);
        const CZunRoutingPreset rp(map, routing);
        const QList<CZunInputPreset> list = lib.GetInputPresets(rp);
        QCOMPARE(namesOf(list), order.split(' '));
        for (int i = 0; i < list.size(); ++i)
            QCOMPARE(CRoutingLibrary::fits(list.at(i), rp), i < fitting);
    }

    void fullRoutingEqualityAndMultipath()
    {
        const auto map = mapOf(1079);
        const CZunFullRoutingPreset ana(map, frName("10000000000001100110001010000000"));
        QCOMPARE(ana.getPattern(), quint32(0x80066280));
        QCOMPARE(ana.getVariant(), quint16(2));
        QCOMPARE(ana.getName(), QStringLiteral("4xAna In 4x1->2 "));
        QCOMPARE(ana.getRoutingWord().word, quint16(0x21A1));
        QCOMPARE(ana.GetRoutingPreset().getName(), QStringLiteral("RP_41"));
        QCOMPARE(ana.GetInputPreset().getName(), QStringLiteral("IR_41"));
        QCOMPARE(ana.GetSourceOfOutput(7), 4);

        // bits 28-31 are not compared; the variant (bits 9-11) is
        const CZunFullRoutingPreset aes(map, frName("00100000000001100110001010000000"));
        const CZunFullRoutingPreset alternating(map, frName("10000000000001100110010010000000"));
        QVERIFY(ana == aes);
        QVERIFY(ana != alternating);
        const CRoutingLibrary lib(map);
        QCOMPARE(lib.FindFullRouting(ana).size(), 4);
        for (const CZunFullRoutingPreset& p : lib.FindFullRouting(ana))
            QCOMPARE(p.GetRoutingPreset().getName(), QStringLiteral("RP_41"));

        // bits 17, 18 (DSP 1) and 13, 14 (DSP 2)
        using L = QList<ZunC::MultipathMode>;
        QCOMPARE(ana.GetMultipathModesForDSP(1), (L{ZunC::MP_None, ZunC::MP_MidHi, ZunC::MP_LoMid}));
        QCOMPARE(ana.GetMultipathModesForDSP(2), (L{ZunC::MP_None, ZunC::MP_MidHi, ZunC::MP_LoMid}));
        QVERIFY(ana.isMultipathModeSupported(1, ZunC::MP_None));
        QVERIFY(ana.isMultipathModeSupported(1, ZunC::MP_MidHi));
        QVERIFY(!ana.isMultipathModeSupported(1, ZunC::MP_LoMidHi));
        QVERIFY(!ana.isMultipathModeSupported(2, ZunC::MP_2xMidHi));
        QVERIFY(!ana.isMultipathModeSupported(2, ZunC::MultipathMode(7)));
        const CZunFullRoutingPreset all(map, frName("10000000000011111111000000100000"));
        QCOMPARE(all.GetMultipathModesForDSP(1),
                 (L{ZunC::MP_None, ZunC::MP_LoMidHi, ZunC::MP_MidHi, ZunC::MP_LoMid})); // mode 4 never listed
        QVERIFY(all.isMultipathModeSupported(2, ZunC::MP_2xMidHi));
        const CZunFullRoutingPreset single(map, frName("10000000000000000000011100000000"));
        QCOMPARE(single.GetMultipathModesForDSP(2), L{ZunC::MP_None});
        QVERIFY(!CZunFullRoutingPreset().isMultipathModeSupported(1, ZunC::MP_None)); // pattern 0

        for (int dsp : {0, 3}) {
            try {
                ana.isMultipathModeSupported(dsp, ZunC::MP_None);
                QFAIL("no exception");
            } catch (const std::logic_error& e) {
                QCOMPARE(QString(e.what()),
                         QStringLiteral("CZunFullRoutingPreset::isMultipathModeSupported(): invalid dsp specified"));
            }
            try {
                ana.GetMultipathModesForDSP(dsp);
                QFAIL("no exception");
            } catch (const std::logic_error& e) {
                QCOMPARE(QString(e.what()),
                         QStringLiteral("CZunFullRoutingPreset::GetMultipathModesForDSP(dsp) : Invalid DSP specified."));
            }
        }
    }

    void fullRoutingOfAnnouncedWord()
    {
        const auto map = mapOf(1077);
        const auto lib = QSharedPointer<CRoutingLibrary>::create(map);
        // several presets carry 0x1191: the last in library order
        const CZunFullRoutingPreset known(lib, 0x1191);
        QCOMPARE(known.getName(), QStringLiteral("2xAna In 2x1->4 "));
        QCOMPARE(known.GetSourceOfOutput(5), 2);
        // RP_81 with IR_82 has no full routing: the presets of the word, no pattern
        const CZunFullRoutingPreset other(lib, CZunRoutingWord::compose(0x33, 0x65));
        QCOMPARE(other.getPattern(), quint32(0));
        QVERIFY(other.getName().isEmpty());
        QCOMPARE(other.GetSourceOfOutput(0), 5);
        QCOMPARE(other.GetSourceOfOutput(8), 5); // the ninth slot number: slot 0
        QCOMPARE(CZunFullRoutingPreset(lib, 0).GetSourceOfOutput(0), 26);
    }

    void serverCachesOneLibraryPerFirmware()
    {
        RoutingServer server;
        const auto map = mapOf(1078);
        server.createLibrary(1078, map);
        const auto first = server.getLibrary(1078);
        QVERIFY(first);
        server.createLibrary(1078, map);
        QCOMPARE(server.getLibrary(1078), first);
        QCOMPARE(server.getLibrary(1078, map), first);
        QVERIFY(server.getLibrary(1075).isNull());
        QVERIFY(server.getLibrary(1075, mapOf(1075)) != first);

        // a map of another firmware, or none, is refused and caches nothing
        QVERIFY_EXCEPTION_THROWN(server.createLibrary(1079, map), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(server.createLibrary(1080, QSharedPointer<CCmdMap>()), std::logic_error);
        QVERIFY(server.getLibrary(1079).isNull());
        QVERIFY(server.getLibrary(1080).isNull());
    }

    void metaTypes()
    {
        registerRoutingMetaTypes();
        registerRoutingMetaTypes();
        for (const char* name : {"CZunRoutingPreset", "CZunInputPreset", "CZunFullRoutingPreset",
                                 "QSharedPointer<CRoutingLibrary>", "QSharedPointer<AudioIOStatus>"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
        const auto map = mapOf(1080);
        const QVariant v = QVariant::fromValue(CZunFullRoutingPreset(map, frName("00100000000000000000011100001000")));
        QCOMPARE(v.value<CZunFullRoutingPreset>().GetInputPreset().getName(), QStringLiteral("IR_83"));
    }
};

QTEST_GUILESS_MAIN(TestRoutingPresets)
#include "tst_routingpresets.moc"
