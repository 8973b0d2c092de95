#include "CZunBiquad.h"
#include "CZunBiquadDesign.h"
#include "CZunHighOrderFilter.h"
#include "support/FakeEQManager.h"
#include "support/ReferenceResponse.h"

#include <QSignalSpy>
#include <QtTest>

#include <complex>
#include <functional>
#include <memory>

using Reference::cplx;

class TestHighOrderFilter : public QObject
{
    Q_OBJECT

    static HO_FILTER_PARAMS record(quint16 passband, quint16 characteristic, quint16 order, double f,
                                   double ripple = 0.1)
    {
        HO_FILTER_PARAMS p;
        p.number = 3;
        p.bank = 2;
        p.passband = passband;
        p.characteristic = characteristic;
        p.order = order;
        p.frequency = f;
        p.ripple = ripple;
        return p;
    }

    // A designed filter: built and rebuilt through the fake manager.
    static std::unique_ptr<CZunHighOrderFilter> designed(FakeEQManager& m, const HO_FILTER_PARAMS& p)
    {
        auto filter = std::make_unique<CZunHighOrderFilter>(&m, p);
        filter->rebuild();
        return filter;
    }

    // The independent prototype of a filter at the normalised analog point s.
    static std::function<cplx(cplx)> prototype(int passband, int characteristic, int order, double ripple)
    {
        QVector<cplx> poles;
        switch (characteristic) {
        case 0: poles = Reference::critical(order); break;
        case 1: {
            auto bessel = std::make_shared<Reference::Bessel>(order);
            if (passband == 2)
                return [bessel](cplx s) { return bessel->allPass(s); };
            if (passband == 1)
                return [bessel](cplx s) { return bessel->highPass(s); };
            return [bessel](cplx s) { return bessel->lowPass(s); };
        }
        case 3: poles = Reference::chebyshev(order, ripple); break;
        case 8: poles = Reference::linkwitzRiley(order); break;
        default: poles = Reference::butterworth(order); break;
        }
        if (passband == 2 || characteristic == 7)
            return [poles](cplx s) { return Reference::allPass(poles, s); };
        if (passband == 1)
            return [poles](cplx s) { return Reference::highPass(poles, s); };
        return [poles](cplx s) { return Reference::lowPass(poles, s); };
    }

    // Complex response of a filter object at grid point i.
    static cplx at(const CZunAbstractFrequencyResponse& r, int i)
    {
        return std::polar(std::pow(10.0, r.getMagnitude()->at(i) / 20.0), r.getPhase()->at(i) * M_PI / 180.0);
    }

private slots:
    void matchesPrototype_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("passband");
        QTest::addColumn<int>("characteristic");
        QTest::addColumn<int>("order");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("ripple");
        for (double rate : {48000.0, 96000.0})
            for (int passband = 0; passband <= 2; ++passband)
                for (int characteristic : {0, 1, 2, 3, 7, 8})
                    for (int order = 1; order <= 10; ++order)
                        for (double f : {45.0, 1200.0, 15000.0})
                            for (double ripple : characteristic == 3 ? QVector<double>{0.1, 1.0, 3.0}
                                                                     : QVector<double>{0.1})
                                QTest::addRow("%g Hz band %d char %d order %d %g Hz ripple %g", rate, passband,
                                              characteristic, order, f, ripple)
                                    << rate << passband << characteristic << order << f << ripple;
    }
    void matchesPrototype()
    {
        QFETCH(double, rate);
        QFETCH(int, passband);
        QFETCH(int, characteristic);
        QFETCH(int, order);
        QFETCH(double, frequency);
        QFETCH(double, ripple);
        FakeEQManager m;
        m.sampleRate = rate;
        auto filter = designed(m, record(quint16(passband), quint16(characteristic), quint16(order), frequency, ripple));
        QCOMPARE(filter->sections().size(), (order + 1) / 2);
        const auto h = prototype(passband, characteristic, order, ripple);
        const auto f = filter->getFrequencies();
        double worstDb = 0, worstDeg = 0;
        for (int i = 0; i < f->size(); ++i) {
            const cplx ref = h(Reference::warpedPoint(f->at(i), frequency, rate));
            worstDb = qMax(worstDb, std::fabs(filter->getMagnitude()->at(i) - Reference::dB(ref)));
            worstDeg = qMax(worstDeg, Reference::angleDistance(filter->getPhase()->at(i), Reference::degrees(ref)));
        }
        QVERIFY2(worstDb < 0.01, qPrintable(QString("magnitude off by %1 dB").arg(worstDb)));
        QVERIFY2(worstDeg < 0.1, qPrintable(QString("phase off by %1 degrees").arg(worstDeg)));
    }

    // The documented attenuation at the corner, on a corner that is a grid point.
    void cornerNormalisation_data()
    {
        QTest::addColumn<int>("characteristic");
        QTest::addColumn<double>("ripple");
        QTest::addColumn<double>("oddDb");
        QTest::addColumn<double>("evenDb");
        QTest::newRow("critical") << 0 << 0.1 << -3.0103 << -3.0103;
        QTest::newRow("Bessel") << 1 << 0.1 << -3.0103 << -3.0103;
        QTest::newRow("Butterworth") << 2 << 0.1 << -3.0103 << -3.0103;
        QTest::newRow("Chebyshev 1 dB") << 3 << 1.0 << -1.0 << 0.0;
        QTest::newRow("Chebyshev 3 dB") << 3 << 3.0 << -3.0 << 0.0;
        QTest::newRow("Linkwitz-Riley (odd: Butterworth)") << 8 << 0.1 << -3.0103 << -6.0206;
    }
    void cornerNormalisation()
    {
        QFETCH(int, characteristic);
        QFETCH(double, ripple);
        QFETCH(double, oddDb);
        QFETCH(double, evenDb);
        FakeEQManager m;
        const int corner = 300;
        const double fc = CZunAbstractFrequencyResponse().getFrequencies()->at(corner);
        for (int passband = 0; passband <= 1; ++passband)
            for (int order = 1; order <= 10; ++order) {
                auto filter = designed(m, record(quint16(passband), quint16(characteristic), quint16(order), fc, ripple));
                const double expected = order % 2 ? oddDb : evenDb;
                QVERIFY2(std::fabs(filter->getMagnitude()->at(corner) - expected) < 1e-3,
                         qPrintable(QString("band %1 order %2: %3 dB").arg(passband).arg(order)
                                        .arg(filter->getMagnitude()->at(corner))));
            }
        // Chebyshev: r dB below the pass band's top at the corner, the top being 0 dB (odd)
        // or +r dB (even).
        if (characteristic == 3) {
            auto even = designed(m, record(0, 3, 6, fc, ripple));
            double top = -100;
            for (int i = 0; i < corner; ++i)
                top = qMax(top, even->getMagnitude()->at(i));
            QVERIFY(std::fabs(top - ripple) < 0.05);
        }
    }

    void allPassIsFlat()
    {
        FakeEQManager m;
        for (int order = 1; order <= 10; ++order) {
            auto filter = designed(m, record(2, 7, quint16(order), 700));
            for (int i = 0; i < filter->points(); ++i)
                QVERIFY(std::fabs(filter->getMagnitude()->at(i)) < 1e-9);
        }
    }

    // Low and high pass of the same corner sum flat in magnitude.
    void linkwitzRileySums_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("polarity"); // of the high pass
        QTest::addColumn<double>("rate");
        for (double rate : {48000.0, 96000.0}) {
            QTest::addRow("LR2 %g", rate) << 2 << -1 << rate;
            QTest::addRow("LR4 %g", rate) << 4 << 1 << rate;
            QTest::addRow("LR6 %g", rate) << 6 << -1 << rate;
            QTest::addRow("LR8 %g", rate) << 8 << 1 << rate;
            QTest::addRow("LR10 %g", rate) << 10 << -1 << rate;
            for (int odd : {1, 3, 5, 7, 9})
                QTest::addRow("odd %d %g", odd, rate) << odd << 1 << rate;
        }
    }
    void linkwitzRileySums()
    {
        QFETCH(int, order);
        QFETCH(int, polarity);
        QFETCH(double, rate);
        FakeEQManager m;
        m.sampleRate = rate;
        for (double fc : {80.0, 2500.0, 18000.0}) {
            auto low = designed(m, record(0, 8, quint16(order), fc));
            auto high = designed(m, record(1, 8, quint16(order), fc));
            double worst = 0, worstOtherPolarity = 0;
            for (int i = 0; i < low->points(); ++i) {
                worst = qMax(worst, std::fabs(Reference::dB(at(*low, i) + double(polarity) * at(*high, i))));
                worstOtherPolarity =
                    qMax(worstOtherPolarity, std::fabs(Reference::dB(at(*low, i) - double(polarity) * at(*high, i))));
            }
            QVERIFY2(worst < 0.01, qPrintable(QString("sum off by %1 dB at %2 Hz").arg(worst).arg(fc)));
            // Even orders: the other polarity cancels near the corner, so the test can tell
            // them apart. Odd orders (Butterworth) sum to an all pass either way.
            if (order % 2 == 0)
                QVERIFY(worstOtherPolarity > 3.0);
            else
                QVERIFY(worstOtherPolarity < 0.01);
        }
    }

    // Near half the sample rate: each section is designed as asked (none is moved on its
    // own), so the cascade is the transformed prototype up to fs/2. Checked beyond the
    // display grid, from the sections' own coefficients.
    void exactNearHalfTheSampleRate_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("passband");
        QTest::addColumn<int>("characteristic");
        QTest::addColumn<int>("order");
        QTest::addColumn<double>("frequency");
        for (double rate : {44100.0, 48000.0, 96000.0}) {
            FakeEQManager m;
            m.sampleRate = rate;
            m.frequencyLimits = {15, 1e6};
            const double top = m.GetEQFrequencyLimits().maximum;
            for (int passband = 0; passband <= 1; ++passband)
                for (int characteristic : {0, 1, 2, 3, 8})
                    for (int order : {1, 2, 5, 10})
                        for (double f : {0.45 * rate, 0.495 * rate, top})
                            QTest::addRow("%g Hz band %d char %d order %d %g Hz", rate, passband, characteristic,
                                          order, f)
                                << rate << passband << characteristic << order << f;
        }
    }
    void exactNearHalfTheSampleRate()
    {
        QFETCH(double, rate);
        QFETCH(int, passband);
        QFETCH(int, characteristic);
        QFETCH(int, order);
        QFETCH(double, frequency);
        FakeEQManager m;
        m.sampleRate = rate;
        m.frequencyLimits = {15, 1e6};
        auto filter = designed(m, record(quint16(passband), quint16(characteristic), quint16(order), frequency, 1.0));
        const auto h = prototype(passband, characteristic, order, 1.0);
        double worstDb = 0, worstAt = 0;
        for (int i = 0; i <= 400; ++i) {
            const double f = 20.0 * std::pow(0.4999 * rate / 20.0, i / 400.0);
            cplx digital = 1.0;
            for (CZunBiquad* s : filter->sections()) {
                QVERIFY(s->getFrequency() < rate / 2);
                const auto c = CZunBiquadDesign::design(s->getType(), s->getFrequency(), 0.0, s->getQuality(), rate);
                const cplx z1 = std::polar(1.0, -2.0 * M_PI * f / rate);
                digital *= (c.b0 + c.b1 * z1 + c.b2 * z1 * z1) / (1.0 + c.a1 * z1 + c.a2 * z1 * z1);
            }
            const cplx ref = h(Reference::warpedPoint(f, frequency, rate));
            if (Reference::dB(ref) < -120.0) // below what a double cascade resolves
                continue;
            const double off = std::fabs(Reference::dB(digital) - Reference::dB(ref));
            if (off > worstDb) {
                worstDb = off;
                worstAt = f;
            }
        }
        QVERIFY2(worstDb < 0.01, qPrintable(QString("off by %1 dB at %2 Hz").arg(worstDb).arg(worstAt)));
    }

    // Nothing at or above half the sample rate is accepted as a corner.
    void cornerBelowHalfTheSampleRate()
    {
        FakeEQManager m;
        m.frequencyLimits = {15, 40000};
        QCOMPARE(m.GetEQFrequencyLimits().maximum, 23999.5);
        m.sampleRate = 44100;
        QCOMPARE(m.GetEQFrequencyLimits().maximum, 22049.5);
        m.sampleRate = 96000;
        QCOMPARE(m.GetEQFrequencyLimits().maximum, 40000.0);
        m.sampleRate = 48000;
        CZunHighOrderFilter filter(&m, record(1, 3, 10, 1000));
        for (float f : {24000.0f, 30000.0f, 23999.75f})
            QVERIFY_EXCEPTION_THROWN(filter.SetFrequency(f), std::logic_error);
        filter.SetFrequency(23999.5f);
        QCOMPARE(filter.getFrequency(), 23999.5);
        EQ_PARAMS p;
        p.type = 4;
        p.frequency = 1000;
        CZunBiquad eq(&m, p, false);
        QVERIFY_EXCEPTION_THROWN(eq.setFrequency(24000.0f), std::logic_error);
        // A corner that arrives from elsewhere moves the whole design, never one section.
        CZunBiquadDesign::Type t = CZunBiquadDesign::LowPass12;
        const auto over = CZunBiquadDesign::design(t, 30000, 0, 0.7, 48000);
        const auto clamped = CZunBiquadDesign::design(t, CZunBiquadDesign::MaximumCornerRatio * 48000, 0, 0.7, 48000);
        QCOMPARE(over.b0, clamped.b0);
        QCOMPARE(over.a1, clamped.a1);
    }

    void rebuildTakesAndGivesBackSections()
    {
        FakeEQManager m;
        CZunHighOrderFilter filter(&m, record(1, 2, 7, 300));
        QSignalSpy changed(&filter, &CZunHighOrderFilter::signal_Changed);
        filter.rebuild();
        QCOMPARE(filter.sections().size(), 4);
        QCOMPARE(m.eqWrites.size(), 4);
        QCOMPARE(m.filterWrites.size(), 1);
        HO_FILTER_PARAMS written = m.filterWrites.last();
        QCOMPARE(written.order, quint16(7));
        QCOMPARE(written.passband, quint16(1));
        QCOMPARE(written.sections[4], quint16(255));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(written.sections[i], filter.sections()[i]->getNumber());
            QVERIFY(filter.findSection(written.sections[i]));
            QVERIFY(m.eqWrites[i].params.section);
            QCOMPARE(m.eqWrites[i].params.bank, quint16(2));
            QVERIFY(!m.eqWrites[i].neutral);
        }
        QCOMPARE(m.eqWrites[0].params.type, quint16(CZunBiquadDesign::HighPass6));
        QCOMPARE(m.eqWrites[1].params.type, quint16(CZunBiquadDesign::HighPass12));
        QVERIFY(!filter.findSection(999));
        QCOMPARE(changed.count(), 1);

        // Lower order: two sections go back to the manager (written as free).
        const QList<CZunBiquad*> before = filter.sections();
        filter.setOrder(4);
        filter.rebuild();
        QCOMPARE(filter.sections().size(), 2);
        QCOMPARE(m.deleted, (QList<int>{before[3]->getNumber(), before[2]->getNumber()}));
        QCOMPARE(filter.sections()[0], before[0]);
        QCOMPARE(m.filterWrites.last().sections[2], quint16(255));

        // A move within the DSP keeps the sections; one to the other DSP replaces them.
        filter.SetBank(5);
        filter.rebuild();
        QCOMPARE(filter.sections()[0], before[0]);
        QCOMPARE(filter.sections()[0]->getBank(), quint16(5));
        filter.SetBank(8);
        filter.rebuild();
        QCOMPARE(m.deleted.size(), 4);
        QCOMPARE(filter.sections().size(), 2);
        for (CZunBiquad* s : filter.sections())
            QCOMPARE(s->getBank(), quint16(8));
        QCOMPARE(m.filterWrites.last().bank, quint16(8));

        // An order the record cannot hold is refused before anything is written.
        const int writes = m.eqWrites.size();
        filter.setOrder(11);
        try {
            filter.rebuild();
            QFAIL("no exception");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()),
                     QString("CZunHighOrderFilter::rebuild(): invalid order: 11. Valid values are between 1 and 10"));
        }
        QCOMPARE(m.eqWrites.size(), writes);

        // Out of EQs: the manager's error goes on.
        m.freeEQs = 0;
        filter.setOrder(10);
        try {
            filter.rebuild();
            QFAIL("no exception");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QString("CEQManager::NewEQ(): No free EQ left."));
        }
        QCOMPARE(filter.suspendRecalculation, false);
    }

    void bypassReachesEverySection()
    {
        FakeEQManager m;
        auto filter = designed(m, record(0, 2, 6, 1000));
        filter->setBypass(true);
        QVERIFY(filter->isBypassed());
        QCOMPARE(m.deactivations.size(), 3);
        for (int i = 0; i < filter->points(); ++i)
            QCOMPARE(filter->getMagnitude()->at(i), 0.0);
        filter->setBypass(false);
        QCOMPARE(m.activations.size(), 3);
        QVERIFY(filter->getMagnitude()->last() < -60.0);
    }

    void settersAndTheirTexts()
    {
        FakeEQManager m;
        CZunHighOrderFilter filter(&m, record(0, 3, 4, 100));
        QCOMPARE(filter.GetName(), QString("X-Over 3"));
        QCOMPARE(filter.rippleFlags(), Qt::ItemIsSelectable | Qt::ItemIsEditable);
        filter.setPassband(2);
        QCOMPARE(filter.getCharacteristic(), quint16(7));
        QCOMPARE(filter.characteristicFlags(), Qt::ItemFlags());
        QCOMPARE(filter.rippleFlags(), Qt::ItemFlags());
        filter.setPassband(1);
        QCOMPARE(filter.getCharacteristic(), quint16(2));
        QCOMPARE(filter.characteristicFlags(), Qt::ItemIsSelectable | Qt::ItemIsEditable);
        filter.setCharacteristic(0);
        filter.setPassband(0); // not leaving the all pass: characteristic stays
        QCOMPARE(filter.getCharacteristic(), quint16(0));

        filter.setRipple(0.05f);
        QCOMPARE(filter.getRipple(), 0.1);
        filter.setRipple(2.5f);
        QCOMPARE(filter.getRipple(), 2.5);

        try {
            filter.SetBank(12);
            QFAIL("no exception");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()),
                     QString("CZunHighOrderFilter::SetBank(): invalid bank nr: 12. Valid values are between 0 and 11"));
        }
        try {
            filter.SetFrequency(40000.5f);
            QFAIL("no exception");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QString("CZunHighOrderFilter::SetFrequency(): frequency value of 40000.5 is "
                                                "out of bounds. Valid values are between 15 and 23999.5"));
        }
        QCOMPARE(filter.getFrequency(), 100.0);
        filter.SetBank(11);
        filter.SetFrequency(250.0f);
        QCOMPARE(filter.getBank(), quint16(11));
        QCOMPARE(filter.getFrequency(), 250.0);
        QVERIFY(m.filterWrites.isEmpty() && m.eqWrites.isEmpty()); // setters change the object only
    }

    void equality()
    {
        FakeEQManager m;
        CZunHighOrderFilter a(&m, record(0, 8, 4, 100));
        CZunHighOrderFilter b(&m, record(0, 8, 4, 100));
        QVERIFY(a == b);
        b.SetBank(7); // the bank is not compared
        QVERIFY(a == b);
        b.setOrder(6);
        QVERIFY(!(a == b));
        b.setOrder(4);
        b.setBypass(true);
        QVERIFY(!(a == b));
    }

    // A filter read from the device takes its sections (decoded EQ records) and renames
    // itself on updateFromDevice.
    void takesSectionsFromTheDevice()
    {
        FakeEQManager m;
        auto source = designed(m, record(0, 2, 4, 1000)); // fills the fake image
        HO_FILTER_PARAMS p = m.filterImage.value(3);
        CZunHighOrderFilter copy(&m, p);
        QCOMPARE(copy.sections().size(), 2);
        for (int i = 0; i < copy.points(); ++i)
            QCOMPARE(copy.getMagnitude()->at(i), source->getMagnitude()->at(i));

        // The device now holds a high pass of order 2 with one of the sections.
        p.passband = 1;
        p.order = 2;
        p.frequency = 500;
        p.sections[1] = 255;
        EQ_PARAMS s = m.eqImage.value(p.sections[0]);
        s.type = CZunBiquadDesign::HighPass12;
        s.frequency = 500;
        s.quality = 0.7071;
        m.eqImage[p.sections[0]] = s;
        m.filterImage[3] = p;
        QSignalSpy changed(&copy, &CZunHighOrderFilter::signal_Changed);
        copy.updateFromDevice();
        QCOMPARE(copy.getPassband(), quint16(1));
        QCOMPARE(copy.getOrder(), quint16(2));
        QCOMPARE(copy.sections().size(), 1);
        QCOMPARE(copy.GetName(), QString("HP C2 12dB 500"));
        QVERIFY(std::fabs(copy.getMagnitude()->first() + 57.0) < 3.0);
        QCOMPARE(changed.count(), 1);

        // A record naming an EQ the device does not have keeps the usable sections.
        p.sections[0] = 200;
        CZunHighOrderFilter broken(&m, p);
        QCOMPARE(broken.sections().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHighOrderFilter)
#include "tst_highorderfilter.moc"
