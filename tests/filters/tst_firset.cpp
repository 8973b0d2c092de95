#include "support/FirTestSets.h"
#include "ZunCrc16.h"

#include <QtTest>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <type_traits>

static_assert(std::is_base_of<CZunException, CBlockFIR::invalid_filter>::value, "invalid_filter is a CZunException");
static_assert(!std::is_base_of<std::logic_error, CBlockFIR::invalid_filter>::value, "and not a logic_error");

namespace {

class FakeManager : public CFIRLimManagerInterface
{
public:
    QStringList names;
    bool IsInList(const QString& name) const override { return names.contains(name); }
};

bool near(double a, double b, double rel = 1e-9)
{
    return std::fabs(a - b) <= rel * std::max(1.0, std::max(std::fabs(a), std::fabs(b)));
}

// The conversions, written out independently: watts at the amplifier output to a unit
// at a reference point.
double expectedThreshold(double watts, double z, double gainDb, int unit, int reference)
{
    const double w = reference == 1 ? watts / std::pow(10.0, gainDb / 10.0) : watts;
    const double vrms = std::sqrt(w * z);
    switch (unit) {
    case 1: return vrms;
    case 2: return vrms * std::sqrt(2.0);
    case 3: return 20.0 * std::log10(vrms / std::sqrt(0.6));
    case 4: return 20.0 * std::log10(vrms);
    default: return w;
    }
}

} // namespace

class TestFirSet : public QObject
{
    Q_OBJECT
private slots:
    void passThroughSet()
    {
        FilterLimiterEWS thru(QString(), 96000.0);
        QCOMPARE(thru.GetName(), QString("Thru"));
        QCOMPARE(thru.sampleRate(), 96000.0);
        QVERIFY(thru.isDefaultCrossover());
        QCOMPARE(thru.toByteArray().size(), CBlockFIR::ParamAreaSize);
        QCOMPARE(thru.multipathMode(), qint8(0));
        QCOMPARE(thru.dspProgramId(), quint16(0));
        QCOMPARE(thru.downSamplingFactor(), quint16(2));
        QVERIFY(thru.limiterFlagsSet());   // four own limiter paths
        for (int o = 0; o < 4; ++o) {
            QVERIFY(thru.isOwnLimiterPath(o));
            QCOMPARE(thru.pathFlag(o), quint8(0));
            QCOMPARE(thru.outputEntryWord0(o), quint16(0));
        }
        QCOMPARE(thru.maxOutputEntryWord0(), quint16(0));
        QCOMPARE(thru.maxOutputLevel(0, 3, 1), 18.0);
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(QString(), -1.0), std::logic_error);
        // Each set is its own: an edited one changes neither the next made at its rate nor
        // one made at another.
        thru.setImpedance(4.0, 0);
        thru.setOutput(1, {1 << 20, 0, 0}, 0, 1);
        thru.multipathLabel(2, 1);
        thru.computeKey();
        for (double rate : {96000.0, 88200.0}) {
            const FilterLimiterEWS next(QString(), rate);
            QVERIFY(next.isDefaultCrossover() && !next.limiterModified());
            QCOMPARE(next.GetName(), QString("Thru"));
            QCOMPARE(next.multipathMode(), qint8(0));
            QCOMPARE(next.impedance(0), 8.0);
            QCOMPARE(next.sampleRate(), rate);
            QCOMPARE(next.getKey(), ZunCrc16Data(next.toByteArray()));
        }
    }

    void imageRoundTripAndKey()
    {
        std::unique_ptr<FilterLimiterEWS> set(makeTestSet("Main PA"));
        const QByteArray image = set->toByteArray();
        QCOMPARE(set->getKey(), ZunCrc16Data(image));
        QVERIFY(!(set->getKey() & 0x80000000u));
        QCOMPARE(set->toByteArray(), image);   // deterministic

        FilterLimiterEWS copy(nullptr, image);
        QCOMPARE(copy.toByteArray(), image);
        QCOMPARE(copy.getKey(), set->getKey());
        QCOMPARE(copy.GetName(), QString("Main PA"));
        QCOMPARE(copy.coefficients(0), testCoefficients(300, 1));
        QCOMPARE(copy.entryCoefficientCount(3), quint16(0));
        QVERIFY(!copy.isOwnLimiterPath(3));
        QCOMPARE(copy.ampGain(1), 32.0);

        // update() on a current set changes nothing; a limiter edit changes the key.
        copy.update();
        QCOMPARE(copy.computeKey(), set->getKey());
        copy.setImpedance(6.0, 0);
        QVERIFY(copy.limiterModified());
        QVERIFY(copy.computeKey() != set->getKey());
        QVERIFY(!copy.limiterModified());
        // The name is part of the image; a long name is cut to the 24-byte field.
        copy.SetName("Other");
        QVERIFY(copy.computeKey() != ZunCrc16Data(image));
        copy.SetName("A name longer than twenty-four characters");
        FilterLimiterEWS longName(nullptr, copy.toByteArray());
        QCOMPARE(longName.GetName(), QString("A name longer than twent"));
        QCOMPARE(longName.getKey(), copy.computeKey());
    }

    void keyStability()
    {
        // Keys are the sets' ids in the processor's flash and in stored setups: a change
        // of the image layout or of the checksum would orphan every stored set.
        FilterLimiterEWS thru(QString(), 48000.0);
        QCOMPARE(thru.getKey(), 0x6f97d9ddu);
        std::unique_ptr<FilterLimiterEWS> set(makeTestSet("Main PA"));
        QCOMPARE(set->getKey(), 0x1631d8c6u);
        // The key depends on the content only, not on the history of edits or the manager.
        set->setAmpGain(10.0, 3);
        set->setAmpGain(26.0, 3);
        set->setManager(nullptr);
        QCOMPARE(set->computeKey(), 0x1631d8c6u);
    }

    void outputEntriesAndFlags()
    {
        std::unique_ptr<FilterLimiterEWS> set(makeTestSet("E", 10, 40, 20, 100));
        QCOMPARE(set->outputEntryWord0(1), quint16(20));
        QCOMPARE(set->outputEntryWord0(3), quint16(50));
        QCOMPARE(set->maxOutputEntryWord0(), quint16(50));   // the longest latency, output 3's
        QVERIFY(!set->isDefaultCrossover());
        QCOMPARE(set->ownPathCount(), quint8(3));
        const QByteArray image = set->toByteArray();
        // Entry of output 1 at byte 619 + 6: latency then coefficient count, little-endian.
        QCOMPARE(quint8(image.at(625)), quint8(20));
        QCOMPARE(quint8(image.at(627)), quint8(40));
        QCOMPARE(image.at(70), char(3));
        QVERIFY_EXCEPTION_THROWN(set->outputEntryWord0(4), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(set->pathFlag(-1), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(set->setOutput(0, testCoefficients(4, 1), 5, 0), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(set->setOutput(0, testCoefficients(4097, 1), 0, 0), CBlockFIR::invalid_filter);
    }

    void limiterFlags()
    {
        FilterLimiterEWS set(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            set.setOutput(o, testCoefficients(8, o), 0, 0);   // one shared path
        QCOMPARE(set.ownPathCount(), quint8(1));
        QVERIFY(!set.limiterFlagsSet());
        set.setMultipathMode(1);
        QVERIFY(set.limiterFlagsSet());
        set.setMultipathMode(2);
        QVERIFY(!set.limiterFlagsSet());
        set.setOutput(1, testCoefficients(8, 1), 0, 1);
        QVERIFY(!set.limiterFlagsSet());   // mode 2: byte 70 does not count
        set.setMultipathMode(0);
        QVERIFY(set.limiterFlagsSet());
    }

    void multipathLabelAndNames()
    {
        FilterLimiterEWS set(QString(), 48000.0);
        set.multipathLabel(1, 3);
        QCOMPARE(set.GetName(), QString("Thru (MH) 3"));
        QCOMPARE(set.toByteArray().at(71), char(1));
        for (int o = 0; o < 4; ++o)
            QCOMPARE(set.pathFlag(o), quint8(1));
        set.multipathLabel(3, 2);
        QCOMPARE(set.GetName(), QString("Thru (LMH)2"));
        set.multipathLabel(2, 1);
        QCOMPARE(set.GetName(), QString("Thru (LM) 1"));
        QVERIFY_EXCEPTION_THROWN(set.multipathLabel(5, 1), std::logic_error);

        set.SetName("  Main/Hall: ../x  ");
        QCOMPARE(set.makeFileName(false), QString("Main Hall  .. x.fir"));
        set.computeKey();
        QCOMPARE(set.makeFileName(true), QString("Main Hall  .. x___%1.fir").arg(set.getKey(), 0, 16));
        set.SetName("a,^&'@{}[]$=!-#()%.+~_z\\\"*?<>|\xe9");
        QCOMPARE(set.makeFileName(), QString("a,^&'@{}[]$=!-#()%.+~_z        .fir"));
        // Never a hidden file.
        set.SetName("../../x");
        QCOMPARE(set.makeFileName(), QString("x.fir"));
        set.SetName(".");
        QCOMPARE(set.makeFileName(), QString("FIR filter.fir"));
    }

    void uniqueNames()
    {
        FakeManager mgr;
        FilterLimiterEWS set(&mgr, QString(), 48000.0);
        set.SetName("Stage");
        set.makeUniqueName();
        QCOMPARE(set.GetName(), QString("Stage"));   // not taken: unchanged
        mgr.names = QStringList{"Stage", "Stage 1", "Stage 2"};
        set.makeUniqueName();
        QCOMPARE(set.GetName(), QString("Stage 3"));
        mgr.names = QStringList{"Front 9"};
        set.SetName("Front 9");
        set.makeUniqueName();
        QCOMPARE(set.GetName(), QString("Front 10"));
        mgr.names = QStringList{"ABCDEFGHIJKLMNOPQRSTUVWX"};   // 24 characters
        set.SetName(mgr.names.first());
        set.makeUniqueName();
        QCOMPARE(set.GetName(), QString("ABCDEFGHIJKLMNOPQRSTUVW1"));
        QVERIFY(set.GetName().size() <= 24);
    }

    void thresholdConversions_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("reference");
        const char* units[] = {"W", "Vrms", "Vpeak", "dBu", "dBV", "dB(other)"};
        for (int u = 0; u <= 5; ++u)
            for (int r = 0; r <= 1; ++r)
                QTest::newRow(QString("%1 ref%2").arg(units[u]).arg(r).toLatin1()) << u << r;
    }

    void thresholdConversions()
    {
        QFETCH(int, unit);
        QFETCH(int, reference);
        FilterLimiterEWS set(QString(), 48000.0);
        set.setImpedance(8.0, 2);
        set.setAmpGain(26.0, 2);
        const int rows[4] = {CBlockFIR::RowContinuous, CBlockFIR::RowSurge, CBlockFIR::RowThermal, CBlockFIR::RowPeak};
        const double watts[4] = {100.0, 200.0, 100.0, 400.0};   // the defaults
        for (int i = 0; i < 4; ++i) {
            // Getter against the independent formula.
            const double shown = set.limiterThreshold(rows[i], 2, unit, reference);
            QVERIFY2(near(shown, expectedThreshold(watts[i], 8.0, 26.0, unit, reference)), QByteArray::number(shown));
            // Setter: a new value in this unit reads back, and the stored watts are right.
            const double typed = (unit == 3 || unit == 4) ? shown + 1.5 : shown * 1.25;
            QVERIFY(set.setLimiterThreshold(rows[i], typed, 2, unit, reference));
            QVERIFY(near(set.limiterThreshold(rows[i], 2, unit, reference), typed));
            double expectedWatts = watts[i] * ((unit == 3 || unit == 4) ? std::pow(10.0, 0.15) : (unit == 1 || unit == 2) ? 1.5625 : 1.25);
            QVERIFY(near(set.limiterThreshold(rows[i], 2, 0, 0), expectedWatts));
        }
        // The four named getters and setters are the rows' own.
        QVERIFY(set.setLimiterThresholdPeak(set.limiterThresholdPeak(2, unit, reference), 2, unit, reference));
        QVERIFY(near(set.limiterThresholdContinuous(2, unit, reference), set.limiterThreshold(1, 2, unit, reference)));
        QVERIFY(near(set.limiterThresholdSurge(2, unit, reference), set.limiterThreshold(2, 2, unit, reference)));
        QVERIFY(near(set.limiterThresholdThermal(2, unit, reference), set.limiterThreshold(4, 2, unit, reference)));
    }

    void thresholdRefusals()
    {
        FilterLimiterEWS set(QString(), 48000.0);
        set.computeKey();
        const quint32 key = set.getKey();
        QVERIFY(!set.setLimiterThresholdContinuous(-1.0, 0, 1, 0));   // negative volts
        QVERIFY(!set.setLimiterThresholdContinuous(0.0, 0, 0, 0));    // zero watts
        QVERIFY(!set.setLimiterThresholdSurge(std::nan(""), 0, 3, 1));
        QVERIFY(!set.setLimiterThresholdPeak(1e12, 0, 0, 0));
        QVERIFY(!set.limiterModified());
        QCOMPARE(set.computeKey(), key);
        QVERIFY_EXCEPTION_THROWN(set.limiterThreshold(3, 0, 0, 0), std::logic_error);   // row 3 is a duration
        QVERIFY_EXCEPTION_THROWN(set.setImpedance(0.0, 0), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(set.setRmsTimeConstant(-1.0, 0), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(set.setAmpGain(std::nan(""), 0), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(set.ampGain(4), std::logic_error);
    }

    void maxOutputLevel()
    {
        FilterLimiterEWS set(QString(), 48000.0);
        set.setAmpGain(26.0, 1);
        set.setImpedance(4.0, 1);
        const double v18 = std::pow(10.0, 18.0 / 20.0) * std::sqrt(0.6);
        const double v44 = std::pow(10.0, 44.0 / 20.0) * std::sqrt(0.6);
        QVERIFY(near(set.maxOutputLevel(1, 3, 1), 18.0));
        QVERIFY(near(set.maxOutputLevel(1, 3, 0), 44.0));
        QVERIFY(near(set.maxOutputLevel(1, 9, 0), 44.0));      // units above 4: dBu
        QVERIFY(near(set.maxOutputLevel(1, 1, 1), v18));
        QVERIFY(near(set.maxOutputLevel(1, 2, 0), v44 * std::sqrt(2.0)));
        QVERIFY(near(set.maxOutputLevel(1, 0, 0), v44 * v44 / 4.0));
        QVERIFY(near(set.maxOutputLevel(1, 4, 1), 20.0 * std::log10(v18)));
        // setMaxLevel takes the value at the controller output, in any unit.
        for (int unit = 0; unit <= 5; ++unit) {
            const double typed = (unit == 0) ? 0.05 : (unit == 1 || unit == 2) ? 3.3 : 9.0;
            set.setMaxLevel(typed, 1, unit);
            QVERIFY2(near(set.maxOutputLevel(1, unit, 1), typed), QByteArray::number(unit));
        }
        QVERIFY_EXCEPTION_THROWN(set.setMaxLevel(-2.0, 1, 1), std::logic_error);
    }

    void warningTexts()
    {
        FilterLimiterEWS set(QString(), 48000.0);
        set.setAmpGain(26.0, 0);
        set.setImpedance(8.0, 0);
        // 18 dBu at the controller output plus 26 dB is 44 dBu = 123 V rms = 1.9 kW into 8 ohm.
        QVERIFY(!set.hasLimiterText(CBlockFIR::RowPeak, 0));
        QVERIFY(set.checkMaxOutputLevel(CBlockFIR::RowPeak, 0, 0, 0).isEmpty());
        QVERIFY(set.setLimiterThresholdPeak(3000.0, 0, 0, 0));
        QVERIFY(set.hasLimiterText(CBlockFIR::RowPeak, 0));
        QVERIFY(!set.hasLimiterText(CBlockFIR::RowPeak, 1));
        const QString text = set.checkMaxOutputLevel(CBlockFIR::RowPeak, 0, 3, 1);
        QVERIFY(text.startsWith("The max. output level of the Zun is 18 dBu. The selected threshold of "));
        QVERIFY(text.contains(" dBu exceeds the maximum at the Zun output of 18 dBu"));
        // A lower gain moves the threshold at the controller output above the limit too.
        QVERIFY(set.setLimiterThresholdPeak(1000.0, 0, 0, 0));
        QVERIFY(!set.hasLimiterText(CBlockFIR::RowPeak, 0));
        set.setAmpGain(20.0, 0);
        QVERIFY(set.hasLimiterText(CBlockFIR::RowPeak, 0));
        // The warnings follow an image read back.
        FilterLimiterEWS copy(nullptr, set.toByteArray());
        QVERIFY(copy.hasLimiterText(CBlockFIR::RowPeak, 0));
    }

    void setterDeadbands()
    {
        FilterLimiterEWS set(QString(), 48000.0);
        set.computeKey();
        set.setAmpGain(26.0 + 5e-6, 0);
        set.setSurgeDuration(0.1 + 5e-6, 0);
        set.setRmsTimeConstant(5.0 + 5e-6, 0);
        set.setImpedance(8.0, 0);
        QVERIFY(!set.limiterModified());
        // The limiter table edits the duration in steps of 0.1 ms: each one is stored.
        set.setSurgeDuration(0.1001, 0);
        QVERIFY(set.limiterModified());
        QCOMPARE(set.surgeDuration(0), 0.1001);
    }

    void resources()
    {
        FilterLimiterEWS thru(QString(), 48000.0);
        thru.checkFilterResources();
        QCOMPARE(thru.dspProgramId(), quint16(0x0000));

        // 1024 / 512 / 1024 / 512 taps need the classes 2, 1, 2, 1: program 2121 of the 307 family.
        std::unique_ptr<FilterLimiterEWS> s(makeTestSet("R", 1024, 512, 1024, 512));
        s->checkFilterResources();
        QCOMPARE(s->dspProgramId(), quint16(0x0451));

        // 4096 / 4096 / 1024 / 1: 4420 costs 4100 cycles, more than the 307 family's 3333 at 48 kHz.
        std::unique_ptr<FilterLimiterEWS> big(makeTestSet("B", 4096, 4096, 1024, 1));
        big->checkFilterResources();
        QCOMPARE(big->dspProgramId(), quint16(0x1000 | (4 << 9) | (4 << 6) | (2 << 3)));
        // At 96 kHz not even the 321 family has the cycles.
        std::unique_ptr<FilterLimiterEWS> fast(makeTestSet("F", 4096, 4096, 1024, 1, 96000.0));
        try {
            fast->checkFilterResources();
            QFAIL("no exception");
        } catch (const CBlockFIR::invalid_filter& e) {
            QCOMPARE(QString(e.what()), QString("Invalid FIR filter. Either the number coefficients or the target DSP platform is invalid."));
            QVERIFY(!e.detail().empty());
        }
        // No program holds class 4 on all four outputs.
        std::unique_ptr<FilterLimiterEWS> all(makeTestSet("A", 4096, 4096, 4096, 4096));
        QVERIFY_EXCEPTION_THROWN(all->checkFilterResources(), CBlockFIR::invalid_filter);
    }

    void infoHtml()
    {
        std::unique_ptr<FilterLimiterEWS> set(makeTestSet("A<b>"));
        const QString html = set->getInfoHtml(QStringList{"Setup 1", "Live"});
        QVERIFY(html.startsWith("<qt><b>FIR filter information for A&lt;b&gt;</b>"));
        QVERIFY(html.contains("Setup 1") && html.contains("Live"));
        QCOMPARE(set->infoHtml(), html);
    }

    void corruptImagesAreRefused()
    {
        std::unique_ptr<FilterLimiterEWS> set(makeTestSet("C", 40, 0, 7, 0));
        const QByteArray image = set->toByteArray();

        // Every truncation is refused; none reads past the end (ASan builds check this).
        for (int len = 0; len < image.size(); len += (len < 1100 ? 1 : 7))
            QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, image.left(len)), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, image + QByteArray(1, '\0')), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, QByteArray(CBlockFIR::MaxImageSize + 1, 'Z')), std::logic_error);

        // Parameter area CRC.
        QByteArray bad = image;
        bad[30] = static_cast<char>(bad[30] ^ 0x01);
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, bad), std::logic_error);
        // Coefficient block CRC.
        bad = image;
        bad[CBlockFIR::ParamAreaSize + 10] = static_cast<char>(bad[CBlockFIR::ParamAreaSize + 10] ^ 0x40);
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, bad), std::logic_error);
        // An entry's coefficient count that disagrees with its block (CRC of the area fixed).
        bad = image;
        bad[CBlockFIR::OffOutputEntries + 2] = 39;
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, withParamCrc(bad)), std::logic_error);
        // A count above the maximum is the invalid-filter case.
        bad = image;
        bad[CBlockFIR::OffOutputEntries + 2] = 0x01;
        bad[CBlockFIR::OffOutputEntries + 3] = 0x10;   // 4097
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, withParamCrc(bad)), CBlockFIR::invalid_filter);
        // Unknown multipath mode, reserved bytes, NaN limiter value.
        bad = image;
        bad[CBlockFIR::OffMultipath] = 9;
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, withParamCrc(bad)), std::logic_error);
        bad = image;
        bad[1000] = 1;
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, withParamCrc(bad)), std::logic_error);
        bad = image;
        for (int i = 0; i < 8; ++i)
            bad[CBlockFIR::OffLimiter + 7 * 8 + i] = static_cast<char>(0xFF);   // impedance of output 0
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, withParamCrc(bad)), std::logic_error);
        bad = image;
        bad[CBlockFIR::OffName + 20] = 'x';   // data after the name's NUL
        QVERIFY_EXCEPTION_THROWN(FilterLimiterEWS(nullptr, withParamCrc(bad)), std::logic_error);
        // The untouched image still reads.
        QCOMPARE(FilterLimiterEWS(nullptr, image).getKey(), set->getKey());
    }
};

QTEST_GUILESS_MAIN(TestFirSet)
#include "tst_firset.moc"
