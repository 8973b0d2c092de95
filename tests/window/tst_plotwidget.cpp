// The response plot and its curves against the channels, EQs and filters of a device
// object that is not connected: curve data follows the responses, legend checks hide
// curves, curves leave with their responses, the frequency axis reads in "k".
#include "PlotWidget.h"
#include "ScaleDraw1000k.h"
#include "ZunOutputPlotDlg.h"
#include "support/OfflineDevice.h"

#include <qwt_legend_label.h>

#include <QCheckBox>
#include <QtTest>

class TestPlotWidget : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeviceTestRig::Config> m_config;
    std::unique_ptr<OfflineDevice> m_dev;

    CZunOutput* out(int i) const { return m_dev->out(i); }

    // The curve's points equal the response's grid and magnitude or phase, exactly.
    static void compareWithResponse(const CZunPlotCurve* curve, const CZunAbstractFrequencyResponse* r)
    {
        const QVector<double> f = *r->getFrequencies();
        const QVector<double> y = curve->domain() == CZunPlotCurve::Phase ? *r->getPhase() : *r->getMagnitude();
        QCOMPARE(int(curve->dataSize()), f.size());
        for (int i = 0; i < f.size(); ++i)
            if (curve->sample(size_t(i)) != QPointF(f[i], y[i]))
                QFAIL(qPrintable(QString("point %1 differs").arg(i)));
    }

private slots:
    void initTestCase() { m_config.reset(new DeviceTestRig::Config); }
    void init() { m_dev.reset(new OfflineDevice); }
    void cleanup() { m_dev.reset(); }

    void frequencyLabels_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        const QList<QPair<double, QString>> rows{{20, "20"},     {500, "500"}, {1000, "1k"}, {1500, "1500"},
                                                 {10000, "10k"}, {15000, "15k"}, {20000, "20k"}, {0, "0"}};
        for (const auto& r : rows)
            QTest::newRow(qPrintable(r.second)) << r.first << r.second;
    }
    void frequencyLabels()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(ScaleDraw1000k().label(value).text(), text);
    }

    void axesAreLabelledAndNeverRescale()
    {
        PlotWidget plot;
        QStringList majors;
        for (double v : plot.axisScaleDiv(QwtPlot::xBottom).ticks(QwtScaleDiv::MajorTick))
            majors << plot.axisScaleDraw(QwtPlot::xBottom)->label(v).text();
        QCOMPARE(majors, (QStringList{"20", "100", "1k", "10k", "20k"}));
        QCOMPARE(plot.axisTitle(QwtPlot::yLeft).text(), QStringLiteral("Magnitude [dB]"));
        QCOMPARE(plot.axisTitle(QwtPlot::yRight).text(), QStringLiteral("Phase [deg]"));
        out(0)->NewHighOrderFilter(); // a deep pass filter
        plot.addCurve(out(0), CZunPlotCurve::Magnitude, "Magnitude");
        plot.addCurve(out(0), CZunPlotCurve::Phase, "Phase");
        plot.replot();
        QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft), PlotWidget::magnitudeDivision());
        QCOMPARE(plot.axisScaleDiv(QwtPlot::yRight), PlotWidget::phaseDivision());
        QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom), PlotWidget::frequencyDivision());
    }

    void curvesFollowTheirResponsesAfterAnEdit()
    {
        PlotWidget plot;
        CZunBiquad* b = out(2)->NewEQ();
        b->setType(m_dev->nr("Inf_Sel_Typ_EQ_Peak"));
        b->setBypass(false);
        plot.addCurve(out(2), CZunPlotCurve::Magnitude, "Magnitude");
        plot.addCurve(out(2), CZunPlotCurve::Phase, "Phase");
        plot.addCurve(b, CZunPlotCurve::Magnitude);
        const QList<CZunPlotCurve*> c = plot.curves();
        const double before = c[0]->sample(300).y();
        b->setFrequency(float(out(2)->getFrequencies()->at(300)));
        b->setGain(-9.0f);
        b->setQuality(3.0f);
        QVERIFY(c[0]->sample(300).y() < before - 6.0);
        compareWithResponse(c[0], out(2));
        compareWithResponse(c[1], out(2));
        compareWithResponse(c[2], b);
        QCOMPARE(c[1]->yAxis(), int(QwtPlot::yRight));
        // an EQ's curve carries the EQ's name and follows a later one; titled curves keep theirs
        QCOMPARE(c[2]->title().text(), b->GetName());
        b->SetName("Kick");
        b->setGain(-8.0f);
        QCOMPARE(c[2]->title().text(), QStringLiteral("Kick"));
        QCOMPARE(c[0]->title().text(), QStringLiteral("Magnitude"));
    }

    void passShadingFollowsBypass()
    {
        PlotWidget plot;
        CZunBiquad* b = out(1)->NewEQ();
        b->setType(0); // low pass 6 dB
        b->setBypass(false);
        plot.addCurve(b, CZunPlotCurve::Magnitude);
        CZunPlotCurve* curve = plot.curves().first();
        QCOMPARE(curve->baseline(), -50.0);
        b->setBypass(true);
        QCOMPARE(curve->baseline(), 0.0);
        b->setBypass(false);
        QCOMPARE(curve->baseline(), -50.0);
        b->setType(m_dev->nr("Inf_Sel_Typ_EQ_Peak"));
        QCOMPARE(curve->baseline(), 0.0);
        plot.addCurve(out(1)->NewHighOrderFilter(), CZunPlotCurve::Magnitude);
        QCOMPARE(plot.curves().last()->baseline(), -50.0);
        QVERIFY(plot.curves().last()->brush().style() != Qt::NoBrush);
    }

    void legendChecksHideAndShowCurves()
    {
        PlotWidget plot;
        plot.addCurve(out(0), CZunPlotCurve::Magnitude, "Magnitude");
        plot.addCurve(out(0), CZunPlotCurve::Phase, "Phase");
        plot.addCurve(out(0)->NewEQ(), CZunPlotCurve::Magnitude);
        CZunPlotCurve *magnitude = plot.curves()[0], *phase = plot.curves()[1], *eq = plot.curves()[2];
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        // a click on an entry hides that curve only, a second one shows it again
        QwtLegendLabel* label = plot.legendLabel(magnitude);
        QTest::mouseClick(label, Qt::LeftButton);
        QVERIFY(label->isChecked());
        QCOMPARE(magnitude->style(), QwtPlotCurve::NoCurve);
        QCOMPARE(phase->style(), QwtPlotCurve::Lines);
        QTest::mouseClick(label, Qt::LeftButton);
        QCOMPARE(magnitude->style(), QwtPlotCurve::Lines);
        // the group switches hide their curves and check their entries
        plot.showPhaseCurves(false);
        plot.showEQCurves(false);
        QVERIFY(phase->style() == QwtPlotCurve::NoCurve && plot.legendLabel(phase)->isChecked());
        QVERIFY(eq->style() == QwtPlotCurve::NoCurve && plot.legendLabel(eq)->isChecked());
        QCOMPARE(magnitude->style(), QwtPlotCurve::Lines);
        plot.showPhaseCurves(true);
        QVERIFY(phase->style() == QwtPlotCurve::Lines && !plot.legendLabel(phase)->isChecked());
    }

    void removedCurvesAreDeletedAndDeadResponsesLeave()
    {
        PlotWidget plot;
        plot.addCurve(out(0), CZunPlotCurve::Magnitude);
        plot.addCurve(out(0), CZunPlotCurve::Phase);
        plot.addCurve(out(1), CZunPlotCurve::Magnitude);
        QPointer<CZunPlotCurve> m0 = plot.curves()[0], p0 = plot.curves()[1];
        plot.removeCurve(out(0)); // both curves of the output
        QVERIFY(m0.isNull() && p0.isNull());
        // an EQ deleted by the device model takes its curve along, also unasked
        QPointer<CZunBiquad> b = out(1)->NewEQ();
        plot.addCurve(b, CZunPlotCurve::Magnitude);
        QPointer<CZunPlotCurve> eqCurve = plot.curves().last();
        m_dev->eq()->DeleteZunBiquad(b, true);
        OfflineDevice::flushDeletes();
        QVERIFY(b.isNull() && eqCurve.isNull());
        QCOMPARE(plot.curves().size(), 1);
        QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
        plot.replot();
    }

    void outputPageShowsEveryOutputOnBothAxes()
    {
        ZunOutputPlotDlg page;
        for (int i = 0; i < 8; ++i)
            page.addOutput(out(i));
        const QList<CZunPlotCurve*> c = page.plot()->curves();
        QCOMPARE(c.size(), 16);
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(c[2 * i]->title().text(), out(i)->GetName());
            QCOMPARE(c[2 * i + 1]->title().text(), out(i)->GetName());
            QCOMPARE(c[2 * i + 1]->yAxis(), int(QwtPlot::yRight));
        }
        // colours by attachment count: the grid is item 0, the ninth curve wraps round
        const QList<QColor> colors{Qt::yellow, Qt::white, Qt::lightGray, Qt::darkRed, Qt::yellow};
        const QList<int> at{0, 1, 2, 7, 8};
        for (int i = 0; i < at.size(); ++i)
            QCOMPARE(c[at[i]]->pen().color(), colors[i]);
        CZunBiquad* b = out(2)->NewEQ();
        b->setGain(-6.0f);
        compareWithResponse(c[4], out(2));
        compareWithResponse(c[5], out(2));
        page.findChild<QCheckBox*>()->click();
        QVERIFY(c[5]->style() == QwtPlotCurve::NoCurve && c[4]->style() == QwtPlotCurve::Lines);
    }
};

QTEST_MAIN(TestPlotWidget)
#include "tst_plotwidget.moc"
