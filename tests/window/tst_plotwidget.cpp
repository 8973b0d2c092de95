// The response plot and its curves against the channels, EQs and filters of a device
// object that is not connected: curve data follows the responses, legend checks hide
// curves, curves leave with their responses, the frequency axis reads in "k".
#include "CZunPlotCurve.h"
#include "PlotWidget.h"
#include "ScaleDraw1000k.h"
#include "ZunOutputPlotDlg.h"
#include "support/OfflineDevice.h"

#include <qwt_legend_label.h>
#include <qwt_text.h>

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
        for (int i = 0; i < f.size(); ++i) {
            const QPointF p = curve->sample(size_t(i));
            if (p.x() != f[i] || p.y() != y[i])
                QFAIL(qPrintable(QString("point %1: (%2, %3), response (%4, %5)")
                                     .arg(i).arg(p.x()).arg(p.y()).arg(f[i]).arg(y[i])));
        }
    }
    static QString failure(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const std::logic_error& e) {
            return QString::fromStdString(e.what());
        }
        return QString();
    }

private slots:
    void initTestCase() { m_config.reset(new DeviceTestRig::Config); }
    void init() { m_dev.reset(new OfflineDevice); }
    void cleanup() { m_dev.reset(); }

    void frequencyLabels_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("20") << 20.0 << "20";
        QTest::newRow("500") << 500.0 << "500";
        QTest::newRow("1000") << 1000.0 << "1k";
        QTest::newRow("1500") << 1500.0 << "1500";
        QTest::newRow("10000") << 10000.0 << "10k";
        QTest::newRow("15000") << 15000.0 << "15k";
        QTest::newRow("20000") << 20000.0 << "20k";
        QTest::newRow("0") << 0.0 << "0";
    }
    void frequencyLabels()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(ScaleDraw1000k().label(value).text(), text);
    }

    void axesAreFixedAndLabelled()
    {
        PlotWidget plot;
        QStringList majors;
        for (double v : plot.axisScaleDiv(QwtPlot::xBottom).ticks(QwtScaleDiv::MajorTick))
            majors << plot.axisScaleDraw(QwtPlot::xBottom)->label(v).text();
        QCOMPARE(majors, (QStringList{"20", "100", "1k", "10k", "20k"}));
        QCOMPARE(plot.axisTitle(QwtPlot::yLeft).text(), QStringLiteral("Magnitude [dB]"));
        QCOMPARE(plot.axisTitle(QwtPlot::yRight).text(), QStringLiteral("Phase [deg]"));
        QVERIFY(plot.axisEnabled(QwtPlot::yRight));
        // a deep pass filter does not rescale the axes
        out(0)->NewHighOrderFilter();
        plot.addCurve(out(0), CZunPlotCurve::Magnitude, "Magnitude");
        plot.addCurve(out(0), CZunPlotCurve::Phase, "Phase");
        plot.replot();
        QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft), PlotWidget::magnitudeDivision());
        QCOMPARE(plot.axisScaleDiv(QwtPlot::yRight), PlotWidget::phaseDivision());
        QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom), PlotWidget::frequencyDivision());
        QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).ticks(QwtScaleDiv::MinorTick).size(), 24);
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
        QCOMPARE(plot.curves().size(), 3);
        const double before = plot.curves()[0]->sample(300).y();
        b->setFrequency(float(out(2)->getFrequencies()->at(300)));
        b->setGain(-9.0f);
        b->setQuality(3.0f);
        QVERIFY(plot.curves()[0]->sample(300).y() < before - 6.0);
        compareWithResponse(plot.curves()[0], out(2));
        compareWithResponse(plot.curves()[1], out(2));
        compareWithResponse(plot.curves()[2], b);
        QCOMPARE(plot.curves()[1]->yAxis(), int(QwtPlot::yRight));
        QCOMPARE(plot.curves()[2]->yAxis(), int(QwtPlot::yLeft));
        // the EQ's curve carries its name and follows a later one
        QCOMPARE(plot.curves()[2]->title().text(), b->GetName());
        b->SetName("Kick");
        b->setGain(-8.0f);
        QCOMPARE(plot.curves()[2]->title().text(), QStringLiteral("Kick"));
        QCOMPARE(plot.curves()[0]->title().text(), QStringLiteral("Magnitude"));
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
        CZunHighOrderFilter* f = out(1)->NewHighOrderFilter();
        plot.addCurve(f, CZunPlotCurve::Magnitude);
        QCOMPARE(plot.curves().last()->baseline(), -50.0);
        QCOMPARE(plot.curves().last()->kind(), int(CZunPlotCurve::HighOrderFilter));
        QVERIFY(plot.curves().last()->brush().style() != Qt::NoBrush);
    }

    void coloursFollowTheAttachmentCount()
    {
        PlotWidget plot;
        for (int i = 0; i < 9; ++i)
            plot.addCurve(out(i % 8), CZunPlotCurve::Magnitude, "M");
        const QList<CZunPlotCurve*> c = plot.curves();
        QCOMPARE(c[0]->pen().color(), QColor(Qt::yellow));
        QCOMPARE(c[1]->pen().color(), QColor(Qt::white));
        QCOMPARE(c[2]->pen().color(), QColor(Qt::lightGray));
        QCOMPARE(c[7]->pen().color(), QColor(Qt::darkRed));
        QCOMPARE(c[8]->pen().color(), QColor(Qt::yellow));
    }

    void legendChecksHideAndShowCurves()
    {
        PlotWidget plot;
        plot.addCurve(out(0), CZunPlotCurve::Magnitude, "Magnitude");
        plot.addCurve(out(0), CZunPlotCurve::Phase, "Phase");
        CZunBiquad* b = out(0)->NewEQ();
        plot.addCurve(b, CZunPlotCurve::Magnitude);
        CZunPlotCurve* magnitude = plot.curves()[0];
        CZunPlotCurve* phase = plot.curves()[1];
        CZunPlotCurve* eq = plot.curves()[2];
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        // a click on an entry hides that curve only, a second one shows it again
        QwtLegendLabel* label = plot.legendLabel(magnitude);
        QVERIFY(label);
        QTest::mouseClick(label, Qt::LeftButton);
        QVERIFY(label->isChecked());
        QCOMPARE(magnitude->style(), QwtPlotCurve::NoCurve);
        QCOMPARE(phase->style(), QwtPlotCurve::Lines);
        QTest::mouseClick(label, Qt::LeftButton);
        QVERIFY(!label->isChecked());
        QCOMPARE(magnitude->style(), QwtPlotCurve::Lines);
        // the group switches hide their curves and check their entries
        plot.showPhaseCurves(false);
        QCOMPARE(phase->style(), QwtPlotCurve::NoCurve);
        QVERIFY(plot.legendLabel(phase)->isChecked());
        QCOMPARE(magnitude->style(), QwtPlotCurve::Lines);
        plot.showEQCurves(false);
        QCOMPARE(eq->style(), QwtPlotCurve::NoCurve);
        QVERIFY(plot.legendLabel(eq)->isChecked());
        plot.showPhaseCurves(true);
        plot.showEQCurves(true);
        QCOMPARE(phase->style(), QwtPlotCurve::Lines);
        QCOMPARE(eq->style(), QwtPlotCurve::Lines);
        QVERIFY(!plot.legendLabel(phase)->isChecked() && !plot.legendLabel(eq)->isChecked());
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
        QCOMPARE(plot.curves().size(), 1);
        QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
        // an EQ deleted by the device model takes its curve along, also unasked
        QPointer<CZunBiquad> b = out(1)->NewEQ();
        plot.addCurve(b, CZunPlotCurve::Magnitude);
        QPointer<CZunPlotCurve> eqCurve = plot.curves().last();
        m_dev->eq()->DeleteZunBiquad(b, true);
        OfflineDevice::flushDeletes();
        QVERIFY(b.isNull());
        QVERIFY(eqCurve.isNull());
        QCOMPARE(plot.curves().size(), 1);
        QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
        plot.replot();
    }

    void unknownResponsesAreRefused()
    {
        PlotWidget plot;
        CZunLinkedFrequencyResponse sum;
        QCOMPARE(failure([&] { CZunPlotCurve c(&sum, CZunPlotCurve::Magnitude, QString()); }),
                 QStringLiteral("CZunPlotCurve: unknown plot type."));
        QVERIFY(!failure([&] { plot.addCurve(&sum, CZunPlotCurve::Magnitude); }).isEmpty());
        QVERIFY(plot.curves().isEmpty());
        QVERIFY(plot.autoReplot());
        // without a title a curve is named after its domain
        CZunPlotCurve c(out(0), CZunPlotCurve::Phase, QString());
        QCOMPARE(c.title().text(), QStringLiteral("Phase"));
        QCOMPARE(CZunPlotCurve::domainText(2), QStringLiteral("Gr. delay"));
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
            QCOMPARE(c[2 * i]->yAxis(), int(QwtPlot::yLeft));
            QCOMPARE(c[2 * i + 1]->yAxis(), int(QwtPlot::yRight));
        }
        // an edit on Output 3 reaches its curves
        CZunBiquad* b = out(2)->NewEQ();
        b->setGain(-6.0f);
        compareWithResponse(c[4], out(2));
        compareWithResponse(c[5], out(2));
        auto* box = page.findChild<QCheckBox*>();
        QVERIFY(box && box->isChecked());
        box->click();
        QCOMPARE(c[5]->style(), QwtPlotCurve::NoCurve);
        QCOMPARE(c[4]->style(), QwtPlotCurve::Lines);
    }
};

QTEST_MAIN(TestPlotWidget)
#include "tst_plotwidget.moc"
