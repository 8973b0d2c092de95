#include "ZunFilterImport.h"

#include <QtTest>
#include <QTemporaryDir>

class TestCsvImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;

    QString write(const QString& name, const QByteArray& text)
    {
        const QString p = m_tmp.path() + "/" + name;
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            qFatal("cannot write test file");
        return p;
    }

private slots:
    void rowsBecomeFilters()
    {
        const QByteArray text =
            "1;peq;1000;-3.5;2.0\r\n"
            "EQ b;PEQ;63,5;6;0,7\r\n"              // decimal comma, any case
            "x1;lp;80;8;4\r\n"
            "x2;hp;2500;3;6;0.5\r\n"
            "x3;ap;500;7;2\r\n";
        const ZunFilterImport::Result r = ZunFilterImport::parse(text);
        QCOMPARE(r.refused, 0);
        QCOMPARE(r.eqs.size(), 2);
        QCOMPARE(r.eqs[0].frequency, 1000.0);
        QCOMPARE(r.eqs[0].gain, -3.5);
        QCOMPARE(r.eqs[0].quality, 2.0);
        QCOMPARE(r.eqs[0].type, ZunFilterImport::PeakType);
        QVERIFY(r.eqs[0].active);
        QCOMPARE(r.eqs[1].frequency, 63.5);
        QCOMPARE(r.eqs[1].quality, 0.7);
        QCOMPARE(r.filters.size(), 3);
        QCOMPARE(r.filters[0].passband, quint16(0));
        QCOMPARE(r.filters[0].characteristic, quint16(8));
        QCOMPARE(r.filters[0].order, quint16(4));
        QCOMPARE(r.filters[0].ripple, 0.1);
        QCOMPARE(r.filters[1].passband, quint16(1));
        QCOMPARE(r.filters[1].ripple, 0.5);
        QCOMPARE(r.filters[1].frequency, 2500.0);
        QCOMPARE(r.filters[2].passband, quint16(2));
        for (const HO_FILTER_PARAMS& f : r.filters)
            for (quint16 s : f.sections)
                QCOMPARE(s, HO_FILTER_PARAMS::NoSection);
    }

    void badRowsAreRefusedAndCounted()
    {
        const QByteArray text =
            "\n"
            "   \r\n"
            ";;;;\n"                        // blank: skipped, not counted
            "only one field\n"              // too few fields
            "1;peq;1000;3\n"                // too few for a peak EQ
            "1;peq;abc;3;1\n"               // unreadable number
            "1;peq;1000;3;nan\n"
            "1;peq;5;3;1\n"                 // frequency below range
            "1;peq;1000;20;1\n"             // gain above range
            "1;peq;1000;3;0\n"              // Q below range
            "1;lp;100;8\n"                  // too few for a crossover
            "1;lp;100;5;4\n"                // unknown characteristic
            "1;lp;100;8;11\n"               // order above 10
            "1;lp;100;3;4;10\n"             // ripple above range
            "1;lp;100;7;4\n"                // all-pass characteristic on a low pass
            "1;bp;100;8;4\n"                // unknown kind
            "1;lp;1e400;8;4\n"              // overflowing number
            "Name;Kind;Freq;Gain;Q\n"       // a header row is no filter either
            "1;peq;1000;3;1\n";             // the one good row
        const ZunFilterImport::Result r = ZunFilterImport::parse(text);
        QCOMPARE(r.eqs.size(), 1);
        QCOMPARE(r.filters.size(), 0);
        QCOMPARE(r.refused, 15);
        QCOMPARE(r.problems.size(), 15);
        QVERIFY(r.problems.first().startsWith("line 4:"));
    }

    // Nothing at or above half the sample rate, whatever the range allows.
    void frequenciesBelowHalfTheSampleRate()
    {
        const QByteArray text = "1;peq;23999;3;1\n2;peq;24000;3;1\n3;hp;24000;3;10;1\n4;lp;29000;2;4\n";
        ZunFilterImport::Result r = ZunFilterImport::parse(text);
        QCOMPARE(r.eqs.size(), 1);
        QCOMPARE(r.refused, 3);
        ZunFilterImport::Ranges at96k;
        at96k.sampleRate = 96000;
        r = ZunFilterImport::parse(text, at96k);
        QCOMPARE(r.eqs.size(), 2);
        QCOMPARE(r.filters.size(), 2);
        ZunFilterImport::Ranges at44k;
        at44k.sampleRate = 44100;
        QCOMPARE(ZunFilterImport::parse("1;peq;22050;3;1\n2;peq;22049.9;3;1\n", at44k).refused, 1);
    }

    void carriageReturnLineEnds()
    {
        const ZunFilterImport::Result r = ZunFilterImport::parse("1;peq;100;1;1\r2;peq;200;1;1\r\r3;lp;80;2;2");
        QCOMPARE(r.eqs.size(), 2);
        QCOMPARE(r.filters.size(), 1);
        QCOMPARE(r.refused, 0);
    }

    void fileNamesAndSuffixes()
    {
        const QByteArray text = "1;peq;1000;3;1\n2;lp;100;8;4\n";
        // The last suffix counts: "v1.2.csv" is a CSV file, "list.csv.bak" is not.
        ZunFilterImport::Result r = ZunFilterImport::ReadCSV(write("v1.2.csv", text));
        QVERIFY(r.fileRead);
        QCOMPARE(r.eqs.size(), 1);
        QCOMPARE(r.filters.size(), 1);
        QVERIFY(ZunFilterImport::ReadCSV(write("UPPER.CSV", text)).fileRead);
        r = ZunFilterImport::ReadCSV(write("list.csv.bak", text));
        QVERIFY(!r.fileRead);
        QVERIFY(r.eqs.isEmpty() && r.filters.isEmpty());
        QVERIFY(!ZunFilterImport::ReadCSV(m_tmp.path() + "/missing.csv").fileRead);
        QDir(m_tmp.path()).mkdir("folder.csv");
        QVERIFY(!ZunFilterImport::ReadCSV(m_tmp.path() + "/folder.csv").fileRead);

        // The payload form appends and reports the refused rows.
        QVector<EQ_PARAMS> eqs(1);
        QVector<HO_FILTER_PARAMS> filters;
        QCOMPARE(ZunFilterImport::ReadCSV(write("mixed.csv", text + "bad\n"), eqs, filters), 1);
        QCOMPARE(eqs.size(), 2);
        QCOMPARE(filters.size(), 1);
    }

    void customRanges()
    {
        ZunFilterImport::Ranges ranges;
        ranges.maxFrequency = 500.0;
        const ZunFilterImport::Result r = ZunFilterImport::parse("1;peq;1000;3;1\n1;peq;400;3;1\n", ranges);
        QCOMPARE(r.eqs.size(), 1);
        QCOMPARE(r.refused, 1);
    }
};

QTEST_GUILESS_MAIN(TestCsvImport)
#include "tst_csvimport.moc"
