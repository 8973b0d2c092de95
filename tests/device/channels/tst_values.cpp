#include "CZunDelay.h"
#include "CZunParam.h"

#include <QtTest>

#include <cmath>

class TestValues : public QObject
{
    Q_OBJECT
private slots:
    void gainRange()
    {
        const CZunParam p({{-80, 0.5}, {12, 0}});
        QCOMPARE(p.positionCount(), 185);
        QCOMPARE(p.Bound(20), 12.0);
        QCOMPARE(p.Bound(-100), -80.0);
        QCOMPARE(p.Bound(std::nan("")), -80.0);
        QCOMPARE(p.StepUp(11.8, 1), 12.0);
        QCOMPARE(p.StepDown(-79.8, 1), -80.0);
        // the maximum's own step is 0: stepping from it stays there
        QCOMPARE(p.StepUp(12, 3), 12.0);
        QCOMPARE(p.StepDown(12, 3), 12.0);
    }

    void segmentsUseTheStepWhereTheyBegin()
    {
        const CZunParam p({{30, 1}, {100, 2}, {150, 5}});
        QCOMPARE(p.StepUp(99, 1), 100.0);
        QCOMPARE(p.StepUp(100, 1), 102.0);
        QCOMPARE(p.StepDown(100, 1), 98.0);
        QCOMPARE(p.StepDown(100, 2), 96.0);
        QCOMPARE(p.StepUp(149, 3), 150.0);
        QCOMPARE(p.StepUp(10, 1), 30.0); // below the minimum: to the minimum
        for (double v : {25.0, 30.0, 64.5, 100.0, 120.0, 150.0, 170.0})
            QCOMPARE(p.StepUp(v, -2), p.StepDown(v, 2));
        QCOMPARE(CZunParam({{0, 3}, {10, 0}}).positionCount(), 4);
        QVERIFY_EXCEPTION_THROWN(CZunParam({{0, 1}}), std::logic_error);
    }

    void delays()
    {
        QCOMPARE(CZunDelay(65535, 24000).seconds(), 2.730625);
        QCOMPARE(CZunDelay(65535, 96000).seconds(), 0.68265625);
        QCOMPARE((CZunDelay(1, 1000) - CZunDelay(2, 1000)).seconds(), 0.0);
        QCOMPARE(CZunDelay::fromMilliseconds(12.5).seconds(), 0.0125);
        QCOMPARE((CZunDelay(3, 1000) + CZunDelay(1, 1000)).milliseconds(), 4.0);
        QCOMPARE((CZunDelay(4, 1000) / quint16(2)).seconds(), 0.002);
    }
};

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
