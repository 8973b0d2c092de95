#include "CZunBiquad.h"
#include "support/FakeEQManager.h"
#include "support/ReferenceResponse.h"

#include <QSignalSpy>
#include <QtTest>

// How far a computed response may lie from the exact response of the analog prototype at
// the pre-warped frequency, at every grid point: 0.01 dB in magnitude and 0.1 degree in
// phase, far below what a plot or an operator can tell apart.
static constexpr double TolDb = 0.01;
static constexpr double TolDeg = 0.1;

class TestBiquad : public QObject
{
    Q_OBJECT

    static EQ_PARAMS eq(quint16 type, double f, double gain, double q, bool active = true)
    {
        EQ_PARAMS p;
        p.number = 7;
        p.bank = 3;
        p.type = type;
        p.frequency = f;
        p.gain = gain;
        p.quality = q;
        p.active = active;
        p.flag = true;
        return p;
    }

    // Largest deviation of the object's response from the analog prototype.
    static void compare(CZunBiquad& b, FakeEQManager& m, double& worstDb, double& worstDeg)
    {
        const EQ_PARAMS p = b.params();
        const double fc = m.GetShelfResponseFrequency(p);
        const auto f = b.getFrequencies();
        const auto mag = b.getMagnitude();
        const auto ph = b.getPhase();
        worstDb = worstDeg = 0.0;
        for (int i = 0; i < f->size(); ++i) {
            const auto h = Reference::eq(p.type, Reference::warpedPoint(f->at(i), fc, m.sampleRate), p.gain, p.quality);
            worstDb = qMax(worstDb, std::fabs(mag->at(i) - Reference::dB(h)));
            worstDeg = qMax(worstDeg, Reference::angleDistance(ph->at(i), Reference::degrees(h)));
            QVERIFY(ph->at(i) > -180.0 && ph->at(i) <= 180.0);
        }
    }

private slots:
    void matchesPrototype_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("gain");
        QTest::addColumn<double>("quality");
        const double rates[] = {48000.0, 96000.0};
        for (double rate : rates)
            for (int type = 0; type <= 10; ++type)
                // ... and close below half the rate (above 0.499 fs), designed as asked
                for (double f : {20.0, 137.0, 1000.0, 8000.0, 19000.0, 0.4995 * rate})
                    for (double gain : {-15.0, 6.0})
                        for (double q : {0.3, 0.7071, 4.0, 20.0})
                            QTest::addRow("%g Hz type %d %g Hz %g dB Q%g", rate, type, f, gain, q)
                                << rate << type << f << gain << q;
    }
    void matchesPrototype()
    {
        QFETCH(double, rate);
        QFETCH(int, type);
        QFETCH(double, frequency);
        QFETCH(double, gain);
        QFETCH(double, quality);
        FakeEQManager m;
        m.sampleRate = rate;
        CZunBiquad b(&m, eq(quint16(type), frequency, gain, quality), false);
        b.recalculate();
        double worstDb, worstDeg;
        compare(b, m, worstDb, worstDeg);
        QVERIFY2(worstDb < TolDb, qPrintable(QString("magnitude off by %1 dB").arg(worstDb)));
        QVERIFY2(worstDeg < TolDeg, qPrintable(QString("phase off by %1 degrees").arg(worstDeg)));
    }

    // Hand-checked points: the prototype table could share a mistake with the design.
    void knownValues()
    {
        FakeEQManager m;
        const int mid = 255; // about 632 Hz
        auto at = [&](quint16 type, double gain, double q, double& db, double& deg) {
            CZunBiquad probe(&m, eq(0, 1000, 0, 1), false);
            const double f = probe.getFrequencies()->at(mid);
            CZunBiquad b(&m, eq(type, f, gain, q), false);
            b.recalculate();
            db = b.getMagnitude()->at(mid);
            deg = b.getPhase()->at(mid);
        };
        double db, deg;
        at(CZunBiquad::Type::LowPass6, 0, 1, db, deg);
        QVERIFY(std::fabs(db + 3.0103) < 1e-6 && std::fabs(deg + 45.0) < 1e-6);
        at(CZunBiquad::Type::HighPass12, 0, 0.7071067811865476, db, deg);
        QVERIFY(std::fabs(db + 3.0103) < 1e-6 && std::fabs(deg - 90.0) < 1e-6);
        at(CZunBiquad::Type::Peak, -9, 2, db, deg);
        QVERIFY(std::fabs(db + 9.0) < 1e-6 && std::fabs(deg) < 1e-6);
        at(CZunBiquad::Type::AllPass12, 0, 2, db, deg);
        QVERIFY(std::fabs(db) < 1e-9 && std::fabs(std::fabs(deg) - 180.0) < 1e-6);
        at(CZunBiquad::Type::AllPass6, 0, 2, db, deg);
        QVERIFY(std::fabs(db) < 1e-9 && std::fabs(deg + 90.0) < 1e-6);
        // Shelves reach their full gain at one end and 0 dB at the other.
        CZunBiquad low(&m, eq(CZunBiquad::Type::LowShelf12, 1000, 8, 0.7), false);
        low.recalculate();
        QVERIFY(std::fabs(low.getMagnitude()->first() - 8.0) < 0.05);
        QVERIFY(std::fabs(low.getMagnitude()->last()) < 0.05);
        CZunBiquad high(&m, eq(CZunBiquad::Type::HighShelf6, 1000, -8, 0.7), false);
        high.recalculate();
        QVERIFY(std::fabs(high.getMagnitude()->first()) < 0.1);
        QVERIFY(std::fabs(high.getMagnitude()->last() + 8.0) < 0.5);
    }

    void shelfUsesTheManagersFrequency()
    {
        FakeEQManager m;
        CZunBiquad b(&m, eq(CZunBiquad::Type::LowShelf6, 1000, 12, 1), false);
        b.recalculate();
        // The response's half-gain point sits at the manager's frequency (about 501 Hz),
        // not at 1000 Hz.
        const double fd = m.GetShelfResponseFrequency(b.params());
        QVERIFY(fd < 600.0 && fd > 400.0);
        const auto f = b.getFrequencies();
        const auto mag = b.getMagnitude();
        int i = 0;
        while (f->at(i + 1) < fd)
            ++i;
        QVERIFY(mag->at(i) > 6.0 && mag->at(i + 1) < 6.0);
    }

    void bypassedIsFlatAndUnknownTypePassesThrough()
    {
        FakeEQManager m;
        CZunBiquad b(&m, eq(CZunBiquad::Type::Peak, 1000, 12, 1, false), false);
        b.recalculate();
        CZunBiquad u(&m, eq(42, 1000, 12, 1), false);
        u.recalculate();
        for (int i = 0; i < b.points(); ++i) {
            QCOMPARE(b.getMagnitude()->at(i), 0.0);
            QCOMPARE(u.getMagnitude()->at(i), 0.0);
            QCOMPARE(u.getPhase()->at(i), 0.0);
        }
    }

    // A corner at or above half the sample rate is designed just below it: finite values,
    // the same response as at the limit.
    // A record from elsewhere (the device) at or above half the rate: the corner moves
    // below it as a whole and the response stays finite.
    void cornerIsClampedBelowNyquist()
    {
        FakeEQManager m;
        m.frequencyLimits = {15, 40000};
        for (int type : {0, 1, 3, 4, 10}) {
            CZunBiquad over(&m, eq(quint16(type), 30000, 6, 2), false);
            CZunBiquad at(&m, eq(quint16(type), 24000, 6, 2), false);
            CZunBiquad limit(&m, eq(quint16(type), 0.499 * 48000, 6, 2), false);
            over.recalculate();
            at.recalculate();
            limit.recalculate();
            for (int i = 0; i < over.points(); ++i) {
                QVERIFY(std::isfinite(over.getMagnitude()->at(i)) && std::isfinite(over.getPhase()->at(i)));
                QCOMPARE(over.getMagnitude()->at(i), limit.getMagnitude()->at(i));
                QCOMPARE(at.getPhase()->at(i), limit.getPhase()->at(i));
            }
        }
        // Degenerate values from a device record still give finite responses.
        CZunBiquad zero(&m, eq(CZunBiquad::Type::HighPass12, 0.0, 0, 0.0), false);
        zero.recalculate();
        for (int i = 0; i < zero.points(); ++i)
            QVERIFY(std::isfinite(zero.getMagnitude()->at(i)));
    }

    void flagsFollowTheType()
    {
        FakeEQManager m;
        const Qt::ItemFlags editable = Qt::ItemIsSelectable | Qt::ItemIsEditable;
        for (quint16 type = 0; type <= 10; ++type) {
            CZunBiquad b(&m, eq(type, 1000, 0, 1), false);
            const bool gain = type >= 4 && type <= 8;
            const bool firstOrder = type == 0 || type == 2 || type == 5 || type == 7 || type == 9;
            QCOMPARE(b.gainFlags(), gain ? editable : Qt::ItemFlags());
            QCOMPARE(b.qualityFlags(), firstOrder ? Qt::ItemFlags() : editable);
        }
    }

    void settersCheckRangesWithTheirTexts()
    {
        FakeEQManager m;
        CZunBiquad b(&m, eq(4, 1000, 0, 1), false);
        QSignalSpy changed(&b, &CZunBiquad::signal_Changed);
        auto expectText = [](auto call, const char* text) {
            try {
                call();
                QFAIL("no exception");
            } catch (const std::logic_error& e) {
                QCOMPARE(QString(e.what()), QString(text));
            }
        };
        expectText([&] { b.setFrequency(10.5f); },
                   "Frequency value of 10.5 is out of bounds. Valid values are between 15 and 23999.5.");
        // The range ends below half the sample rate, whatever the manager's own range says.
        expectText([&] { b.setFrequency(24000.0f); },
                   "Frequency value of 24000 is out of bounds. Valid values are between 15 and 23999.5.");
        expectText([&] { b.setGain(12.5f); }, "Gain value of 12.5 is out of bounds. Valid values are between -99 and 12.");
        expectText([&] { b.setQuality(0.05f); },
                   "Quality value of 0.05 is out of bounds. Valid values are between 0.1 and 160.");
        expectText([&] { b.setBank(12); }, "Invalid bank nr: 12. Valid values are between 0 and 11.");
        expectText([&] { b.setBank(-1); }, "Invalid bank nr: -1. Valid values are between 0 and 11.");
        expectText([&] { b.setQuality(std::nanf("")); },
                   "Quality value of nan is out of bounds. Valid values are between 0.1 and 160.");
        QCOMPARE(changed.count(), 0);
        QCOMPARE(b.getFrequency(), 1000.0);
        QCOMPARE(b.getQuality(), 1.0);

        // The limits themselves are accepted, also where float rounds them outwards.
        m.qualityLimits = {0.7, 160.0}; // 0.7f lies below 0.7
        b.setQuality(0.7f);
        QCOMPARE(b.getQuality(), 0.7);
        b.setFrequency(23999.5f);
        b.setGain(-99.0f);
        b.setBank(11);
        b.setType(1);
        QCOMPARE(changed.count(), 5);
        QCOMPARE(b.getBank(), quint16(11));
        QVERIFY(m.eqWrites.isEmpty() && m.activations.isEmpty()); // setters never write
    }

    void bypassSwitchesThroughTheManager()
    {
        FakeEQManager m;
        CZunBiquad b(&m, eq(4, 1000, 6, 1), false);
        b.setBypass(false); // unchanged: nothing happens
        QVERIFY(m.activations.isEmpty() && m.deactivations.isEmpty());
        b.setBypass(true);
        QCOMPARE(m.deactivations.size(), 1);
        QCOMPARE(m.deactivations[0].number, quint16(7));
        QCOMPARE(m.deactivations[0].gain, 6.0);
        QVERIFY(b.isBypassed());
        QCOMPARE(b.getMagnitude()->at(255), 0.0);
        b.setBypass(false);
        QCOMPARE(m.activations.size(), 1);
        QVERIFY(b.getMagnitude()->at(300) > 1.0);
    }

    void writeToDevicePacksTheRecord()
    {
        FakeEQManager m;
        CZunBiquad b(&m, eq(6, 250, -4.5, 0.9), true);
        b.writeToDevice(true);
        b.writeToDevice(false);
        QCOMPARE(m.eqWrites.size(), 2);
        QVERIFY(m.eqWrites[0].neutral);
        QVERIFY(!m.eqWrites[1].neutral);
        const EQ_PARAMS& p = m.eqWrites[1].params;
        QCOMPARE(p.number, quint16(7));
        QCOMPARE(p.bank, quint16(3));
        QCOMPARE(p.type, quint16(6));
        QCOMPARE(p.frequency, 250.0);
        QCOMPARE(p.gain, -4.5);
        QCOMPARE(p.quality, 0.9);
        QVERIFY(p.active && p.flag && p.section);
    }

    // A refused write leaves the object as the device has it, and the error goes on.
    void refusedWriteReloadsFromTheDevice()
    {
        FakeEQManager m;
        m.eqImage[7] = eq(4, 500, 3, 2);
        CZunBiquad b(&m, eq(4, 500, 3, 2), false);
        b.setType(1);
        m.setEQFailure = "EQ-Gain value of 30 is out of bounds. Valid values are between -99 and 12.";
        QVERIFY_EXCEPTION_THROWN(b.writeToDevice(false), std::logic_error);
        QCOMPARE(b.getType(), quint16(4));
    }

    void updateFromDeviceReloadsAndRenames()
    {
        FakeEQManager m;
        CZunBiquad b(&m, eq(4, 1000, 0, 4), false);
        QCOMPARE(b.GetName(), QString("EQ 7"));
        EQ_PARAMS dev = eq(8, 2500, -3, 0.8, false);
        dev.bank = 9;
        m.eqImage[7] = dev;
        QSignalSpy data(&b, &CZunAbstractFrequencyResponse::dataChanged);
        b.updateFromDevice();
        QCOMPARE(b.getType(), quint16(8));
        QCOMPARE(b.getFrequency(), 2500.0);
        QCOMPARE(b.getGain(), -3.0);
        QCOMPARE(b.getQuality(), 0.8);
        QCOMPARE(b.getBank(), quint16(9));
        QVERIFY(b.isBypassed());
        QCOMPARE(b.GetName(), QString("T8 2500"));
        QCOMPARE(data.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestBiquad)
#include "tst_biquad.moc"
