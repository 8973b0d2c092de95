#include "CCmdMap.h"
#include "CCmdTables.h"

#include <QSignalSpy>
#include <QtTest>

class TestCmdMap : public QObject
{
    Q_OBJECT
private slots:
    void noVersionSelectedThrows()
    {
        CCmdMap map;
        QCOMPARE(map.version(), CCmdMap::NoVersion);
        QVERIFY(!map.contains("Cmd_MemCopy"));
        QVERIFY_EXCEPTION_THROWN(map.getCmdNr("Cmd_MemCopy"), CCmdMap::invalid_cmd);
    }

    void firstFailureFlagOnlyOnce()
    {
        CCmdMap map;
        map.setVersion(1075);
        bool first[2] = {false, false};
        for (bool& f : first) {
            try {
                map.getCmdNr("Cmd_NoSuchName");
            } catch (const CCmdMap::invalid_cmd& e) {
                f = e.isFirstFailure();
                QVERIFY(QString::fromStdString(e.text()).contains("Cmd_NoSuchName"));
                QCOMPARE(QString(e.what()), QString("The firmware seems to be outdated. Please update to the newest one."));
            }
        }
        QVERIFY(first[0]);
        QVERIFY(!first[1]);
    }

    void versionSelectionSignalsOnlyOnChange()
    {
        CCmdMap map;
        QSignalSpy spy(&map, &CCmdMap::signal_CmdMapChanged);
        map.setVersion(1075);
        map.setVersion(1075);
        map.setVersion(1080);
        QCOMPARE(spy.count(), 2);
        QVERIFY(CCmdMap::hasVersion(1080));
        QVERIFY(!CCmdMap::hasVersion(1074));
        map.setVersion(1074);
        QVERIFY(map.getNameSet().isEmpty());
    }

    // Names asked for as Latin-1 text, as the reply dispatcher asks dozens a reply, answer
    // as the QString look-up does: after the map changed its version, and for a caller's
    // buffer that is then reused for another name.
    void latin1LookUpsFollowTheVersion()
    {
        CCmdMap map;
        map.setVersion(1075);
        const QSet<QString> older = map.getNameSet();
        map.setVersion(1080);
        QString added;
        for (const QString& name : map.getNameSet())
            if (!older.contains(name))
                added = name;
        QVERIFY(!added.isEmpty());
        const QByteArray latin = added.toLatin1();
        QVERIFY(map.contains(QLatin1String(latin)));
        QCOMPARE(map.getCmdNr(latin.constData()), map.getCmdNr(added));
        map.setVersion(1075);
        QVERIFY(!map.contains(QLatin1String(latin)));
        QVERIFY_EXCEPTION_THROWN(map.getCmdNr(latin.constData()), CCmdMap::invalid_cmd);

        char buffer[32];
        for (const char* name : {"Cmd_MemCopy", "Cmd_MemID0", "Cmd_MemCopy"}) {
            qstrcpy(buffer, name);
            QCOMPARE(map.getCmdNr(buffer), map.getCmdNr(QString::fromLatin1(name)));
            QVERIFY(map.contains(QLatin1String(buffer)));
        }
        qstrcpy(buffer, "Cmd_NoSuchName");
        QVERIFY(!map.contains(QLatin1String(buffer)));
    }

    void tableFormatInheritsAndUndefines()
    {
        const QString text = "name\tkind\t1\t2\t3\tnote\n"
                             "# comment\n"
                             "A\ti\t5\t\t7\n"
                             "B\ti\t-\t0x10\t-\n"
                             "C\tf\t1/96\n"
                             "D\ts\tline\\none\n";
        const CCmdTables t = CCmdTables::fromTexts({{"x.tsv", text}});
        QCOMPARE(t.versions(), (QList<quint16>{1, 2, 3}));
        QCOMPARE(t.table(2).ints.value("A"), 5);
        QCOMPARE(t.table(3).ints.value("A"), 7);
        QVERIFY(!t.table(1).ints.contains("B"));
        QCOMPARE(t.table(2).ints.value("B"), 16);
        QVERIFY(!t.table(3).ints.contains("B"));
        // version 0: newest definition of every name, even one a later version dropped
        QCOMPARE(t.table(0).ints.value("B"), 16);
        QCOMPARE(t.table(0).ints.value("A"), 7);
        QCOMPARE(t.table(3).floats.value("C"), 1.0 / 96);
        QCOMPARE(t.table(1).strings.value("D"), QString("line\none"));
    }

    void namePatternsExpandPerDspAndRun()
    {
        const QString text = "!dsp-offset\t770\n"
                             "name\tkind\t1\t2\n"
                             "Cmd_@_Gain[0..3]\ti\t94\t100\n"
                             "Cmd_@_In[A..D|E..H]\ti\t117\n"
                             "Cmd_Plain[X..Y]\ti\t5\t-\n";
        const CCmdTables t = CCmdTables::fromTexts({{"dsp.tsv", text}});
        const CCmdMap::Table v1 = t.table(1);
        QCOMPARE(v1.ints.value("Cmd_0_Gain0"), 94);
        QCOMPARE(v1.ints.value("Cmd_0_Gain3"), 97);
        QCOMPARE(v1.ints.value("Cmd_1_Gain0"), 864);
        QCOMPARE(v1.ints.value("Cmd_1_Gain3"), 867);
        QCOMPARE(t.table(2).ints.value("Cmd_1_Gain2"), 872);
        QCOMPARE(v1.ints.value("Cmd_0_InD"), 120);
        QCOMPARE(v1.ints.value("Cmd_1_InE"), 887);
        QCOMPARE(v1.ints.value("Cmd_1_InH"), 890);
        QVERIFY(!v1.ints.contains("Cmd_1_InA") && !v1.ints.contains("Cmd_0_InE"));
        QCOMPARE(v1.ints.value("Cmd_PlainY"), 6);
        QVERIFY(!t.table(2).ints.contains("Cmd_PlainX"));
        QCOMPARE(v1.ints.size(), 4 + 4 + 4 + 4 + 2);
    }

    void malformedPatternsRefused_data()
    {
        QTest::addColumn<QString>("text");
        const QString h = "name\tkind\t1\n";
        QTest::newRow("@ without offset") << h + "Cmd_@_X\ti\t1\n";
        QTest::newRow("unknown directive") << "!offset\t3\n" + h;
        QTest::newRow("| without @") << h + "Cmd_X[A..B|C..D]\ti\t1\n";
        QTest::newRow("runs of unequal length") << "!dsp-offset\t9\n" + h + "Cmd_@_X[A..B|C..E]\ti\t1\n";
        QTest::newRow("descending run") << h + "Cmd_X[3..1]\ti\t1\n";
        QTest::newRow("unclosed run") << h + "Cmd_X[1..3\ti\t1\n";
        QTest::newRow("text with a run") << h + "InfS_X[1..3]\ts\tabc\n";
        QTest::newRow("expansion clashes") << h + "Cmd_X[1..2]\ti\t1\nCmd_X2\ti\t5\n";
        QTest::newRow("expanded value too big") << h + "Cmd_X[0..1]\ti\t65535\n";
    }

    void malformedPatternsRefused()
    {
        QFETCH(QString, text);
        QVERIFY_EXCEPTION_THROWN(CCmdTables::fromTexts({{"bad.tsv", text}}), std::runtime_error);
    }

    void malformedTableRefused()
    {
        const QString bad = "name\tkind\t1\nA\ti\tzz\n";
        QVERIFY_EXCEPTION_THROWN(CCmdTables::fromTexts({{"bad.tsv", bad}}), std::runtime_error);
        const QString twice = "name\tkind\t1\nA\ti\t1\nA\ti\t2\n";
        QVERIFY_EXCEPTION_THROWN(CCmdTables::fromTexts({{"twice.tsv", twice}}), std::runtime_error);
    }
};

QTEST_GUILESS_MAIN(TestCmdMap)
#include "tst_cmdmap.moc"
