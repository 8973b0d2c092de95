#include "CZunBiquad.h"
#include "CZunLinkedFrequencyResponse.h"
#include "CZunResponseMath.h"
#include "support/FakeEQManager.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <memory>

class TestLinkedResponse : public QObject
{
    Q_OBJECT

    static EQ_PARAMS peak(double f, double gain, double q)
    {
        EQ_PARAMS p;
        p.type = 4;
        p.frequency = f;
        p.gain = gain;
        p.quality = q;
        p.active = true;
        return p;
    }

private slots:
    void gridEnds()
    {
        CZunAbstractFrequencyResponse r;
        const auto f = r.getFrequencies();
        QCOMPARE(f->size(), 512);
        QCOMPARE(r.getMagnitude()->size(), 512);
        QCOMPARE(r.getPhase()->size(), 512);
        QCOMPARE(f->first(), 20.0);
        QCOMPARE(f->last(), 20000.0);
        // Logarithmic: a constant ratio of 1000^(1/511) between neighbours.
        const double step = std::pow(1000.0, 1.0 / 511.0);
        for (int i = 1; i < f->size(); ++i)
            QVERIFY(std::fabs(f->at(i) / f->at(i - 1) - step) < 1e-12);
        // A new response is flat, and stays so while others on its grid are computed; the
        // vectors are shared, not copied.
        FakeEQManager m;
        const CZunBiquad computed(&m, peak(1000, 12, 1), false);
        CZunAbstractFrequencyResponse later;
        for (const CZunAbstractFrequencyResponse* flat : {&r, &later}) {
            QCOMPARE(*flat->getMagnitude(), QVector<double>(512, 0.0));
            QCOMPARE(*flat->getPhase(), QVector<double>(512, 0.0));
        }
        QCOMPARE(r.getMagnitude().data(), r.getMagnitude().data());
    }

    void names()
    {
        CZunAbstractFrequencyResponse r;
        FakeEQManager m;
        CZunBiquad b(&m, peak(1000, 0, 1), false);
        QSignalSpy spy(&b, &CZunAbstractFrequencyResponse::nameChanged);
        QCOMPARE(b.GetName(), QString("EQ 0"));
        b.SetName("Kick");
        QCOMPARE(b.GetName(), QString("Kick"));
        b.SetName(QString());
        QCOMPARE(b.GetName(), QString("EQ 0"));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QString("Kick"));
    }

    // The fast logarithm and arc tangent of the response loops against the library.
    void responseMath()
    {
        for (double x = 1e-29; x < 1e30; x *= 1.37)
            QVERIFY(std::fabs(CZunResponseMath::log10(x) - std::log10(x)) < 1e-11);
        QCOMPARE(CZunResponseMath::log10(0.0), -30.0); // floored
        for (int i = 0; i < 3600; ++i) {
            const double a = i * M_PI / 1800.0;
            for (double r : {1e-9, 1.0, 3e7}) {
                const double y = r * std::sin(a), x = r * std::cos(a);
                QVERIFY(std::fabs(CZunResponseMath::atan2Degrees(y, x) - std::atan2(y, x) * 180 / M_PI) < 1e-8);
            }
        }
        QCOMPARE(CZunResponseMath::atan2Degrees(0.0, 0.0), 0.0);
        QCOMPARE(CZunResponseMath::wrapDegrees(540.0), 180.0);
        QCOMPARE(CZunResponseMath::wrapDegrees(-180.0), 180.0);
        QCOMPARE(CZunResponseMath::wrapDegrees(-190.0), 170.0);
    }

    // Members multiply: dB add, phases add (wrapped).
    void membersAddInDb()
    {
        FakeEQManager m;
        CZunBiquad a(&m, peak(300, 9, 2), false);
        CZunBiquad b(&m, peak(500, 6, 0.7), false);
        EQ_PARAMS ap;
        ap.type = 10;
        ap.frequency = 400;
        ap.quality = 3;
        ap.active = true;
        CZunBiquad c(&m, ap, false);
        a.recalculate();
        b.recalculate();
        c.recalculate();
        CZunLinkedFrequencyResponse sum;
        QSignalSpy data(&sum, &CZunAbstractFrequencyResponse::dataChanged);
        sum.addResponse(&a);
        sum.addResponse(&b);
        sum.addResponse(&c);
        sum.addResponse(&c); // once only
        QCOMPARE(sum.responseCount(), 3);
        QCOMPARE(data.count(), 3);
        for (int i = 0; i < sum.points(); ++i) {
            const double db = a.getMagnitude()->at(i) + b.getMagnitude()->at(i) + c.getMagnitude()->at(i);
            QVERIFY(std::fabs(sum.getMagnitude()->at(i) - db) < 1e-9);
            const double ph = a.getPhase()->at(i) + b.getPhase()->at(i) + c.getPhase()->at(i);
            QVERIFY(std::fabs(sum.getPhase()->at(i) - CZunResponseMath::wrapDegrees(ph)) < 1e-9);
            QVERIFY(sum.getPhase()->at(i) > -180.0 && sum.getPhase()->at(i) <= 180.0);
        }

        // A member that changes updates the sum through its signal.
        b.setGain(-6.0f);
        QVERIFY(std::fabs(sum.getMagnitude()->at(0) - a.getMagnitude()->at(0) - b.getMagnitude()->at(0) -
                          c.getMagnitude()->at(0)) < 1e-9);

        // Removal and destruction take a member out.
        sum.removeResponse(&c);
        QVERIFY(!sum.hasResponse(&c));
        {
            auto d = std::make_unique<CZunBiquad>(&m, peak(1000, 12, 1), false);
            d->recalculate();
            sum.addResponse(d.get());
        }
        QCOMPARE(sum.responseCount(), 2);
        for (int i = 0; i < sum.points(); ++i)
            QVERIFY(std::fabs(sum.getMagnitude()->at(i) - a.getMagnitude()->at(i) - b.getMagnitude()->at(i)) < 1e-9);
    }

    void gainAndDelay()
    {
        FakeEQManager m;
        CZunBiquad a(&m, peak(1000, 6, 1), false);
        a.recalculate();
        CZunLinkedFrequencyResponse sum;
        sum.addResponse(&a);
        QSignalSpy data(&sum, &CZunAbstractFrequencyResponse::dataChanged);

        // Gain -0.5: -6.02 dB and a polarity inversion; delay 1 ms: -360 f / 1000 degrees.
        sum.setGainDelay(-0.5, 0.001);
        QCOMPARE(data.count(), 1);
        const auto f = sum.getFrequencies();
        for (int i = 0; i < sum.points(); ++i) {
            QVERIFY(std::fabs(sum.getMagnitude()->at(i) - a.getMagnitude()->at(i) - 20 * std::log10(0.5)) < 1e-9);
            const double expected = a.getPhase()->at(i) + 180.0 - 360.0 * f->at(i) * 0.001;
            QVERIFY(std::fabs(sum.getPhase()->at(i) - CZunResponseMath::wrapDegrees(expected)) < 1e-6);
        }
        // Fuzzy: the same values again (or within rounding) do not recalculate.
        sum.setGainDelay(-0.5 * (1 + 1e-15), 0.001);
        QCOMPARE(data.count(), 1);
        sum.setGainDelay(1.0, 0.0);
        QCOMPARE(data.count(), 2);
        sum.setGainDelay(1e-18, 0.0); // from 1.0 to about 0: a change
        QCOMPARE(data.count(), 3);
        QVERIFY(std::isfinite(sum.getMagnitude()->at(0)));
        sum.setGainDelay(0.0, 0.0); // mute: floored, never -inf
        QCOMPARE(sum.getMagnitude()->at(0) - a.getMagnitude()->at(0), -300.0);
    }

    void suspendSkipsWork()
    {
        FakeEQManager m;
        CZunBiquad a(&m, peak(1000, 6, 1), false);
        CZunLinkedFrequencyResponse sum;
        sum.addResponse(&a);
        const double before = sum.getMagnitude()->at(300);
        sum.suspendRecalculation = true;
        QSignalSpy data(&sum, &CZunAbstractFrequencyResponse::dataChanged);
        a.setGain(-9.0f);
        sum.setGainDelay(2.0, 0.0);
        QCOMPARE(data.count(), 0);
        QCOMPARE(sum.getMagnitude()->at(300), before);
        sum.suspendRecalculation = false;
        sum.recalculate();
        QCOMPARE(data.count(), 1);
        QVERIFY(std::fabs(sum.getMagnitude()->at(300) - a.getMagnitude()->at(300) - 20 * std::log10(2.0)) < 1e-9);
    }

    // Channels nest: an output's response contains its input's.
    void nestedLinks()
    {
        FakeEQManager m;
        CZunBiquad a(&m, peak(200, 6, 1), false);
        CZunBiquad b(&m, peak(5000, -4, 2), false);
        CZunLinkedFrequencyResponse input, output;
        input.addResponse(&a);
        output.addResponse(&input);
        output.addResponse(&b);
        output.addResponse(&output); // itself: refused
        a.setGain(3.0f);
        b.recalculate();
        for (int i = 0; i < output.points(); i += 50)
            QVERIFY(std::fabs(output.getMagnitude()->at(i) - a.getMagnitude()->at(i) - b.getMagnitude()->at(i)) < 1e-9);
    }
};

QTEST_GUILESS_MAIN(TestLinkedResponse)
#include "tst_linkedresponse.moc"
