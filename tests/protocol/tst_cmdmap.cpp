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
