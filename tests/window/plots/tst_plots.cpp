// Response plots, their curves and the pages that hold them, against the channels, EQs and
// filters of a device object that is not connected: curve data follows the responses,
// legend checks hide curves, curves leave (deleted) with their responses, the frequency axis
// reads in "k"; a channel page's New and Remove with the device's capacity, what it owns
// (the page against the emulated processor: tst_tables_e2e).
#include "CRoutingLibrary.h"
#include "CZunHighOrderFilter.h"
#include "CZunInput.h"
#include "EQTableDelegate.h"
#include "PlotWidget.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunFilterTableView.h"
#include "ZunHOFProxyModel.h"
#include "ZunHOFModel.h"
#include "ZunInputDlg.h"
#include "ZunOutputDlg.h"
#include "ZunOutputPlotDlg.h"
#include "support/OfflineDevice.h"

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_scale_draw.h>

#include <QCheckBox>
#include <QComboBox>
#include <QScrollBar>
#include <QPushButton>
#include <QtTest>

using DeviceTestRig::failure;

class TestPlots : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeviceTestRig::Config> m_config;
    std::unique_ptr<OfflineDevice> m_dev;
    ZunHOFModel m_hofs{QSharedPointer<CZun>()};

    CZunOutput* out(int i) const { return m_dev->out(i); }

    // As the control window builds a page.
    template <typename Page, typename Channel>
    std::unique_ptr<Page> page(Channel* channel, ZunEQModel* eqModel, QSharedPointer<CZun> zun = {})
    {
        auto p = std::make_unique<Page>(channel);
        p->setEQModel(eqModel);
        p->setHOFModel(&m_hofs);
        p->setPointerCZun(zun ? zun : m_dev->zun);
        return p;
    }
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
    static int curvesOf(PlotWidget* plot, CZunAbstractFrequencyResponse* r)
    {
        int n = 0;
        for (CZunPlotCurve* c : plot->curves())
            n += c->response() == r ? 1 : 0;
        return n;
    }

private slots:
    void initTestCase() { m_config.reset(new DeviceTestRig::Config); }
    void init() { m_dev.reset(new OfflineDevice); }
    void cleanup() { m_dev.reset(); }

    void axesAreLabelledAndNeverRescale()
    {
        PlotWidget plot;
        QStringList labels;
        for (double v : plot.axisScaleDiv(QwtPlot::xBottom).ticks(QwtScaleDiv::MajorTick) + QList<double>{1500, 15000, 0})
            labels << plot.axisScaleDraw(QwtPlot::xBottom)->label(v).text();
        QCOMPARE(labels, (QStringList{"20", "100", "1k", "10k", "20k", "1500", "15k", "0"}));
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
        QVERIFY(c[0]->sample(300).y() < before - 6.0);
        compareWithResponse(c[0], out(2));
        compareWithResponse(c[1], out(2));
        compareWithResponse(c[2], b);
        // an EQ's curve carries the EQ's name and follows a later one; titled curves keep theirs
        b->SetName("Kick");
        b->setGain(-8.0f);
        QCOMPARE(c[2]->title().text(), QStringLiteral("Kick"));
        QCOMPARE(c[0]->title().text(), QStringLiteral("Magnitude"));
        // a low pass is shaded from -50 dB while active, from 0 dB when bypassed
        b->setType(0);
        QCOMPARE(c[2]->baseline(), -50.0);
        b->setBypass(true);
        QCOMPARE(c[2]->baseline(), 0.0);
    }

    // A crossover filter's curve on the plot is shaded from -50 dB while the filter is
    // active and from 0 dB while it is bypassed: from the moment it is added, and after
    // every change of the filter (pass EQs likewise).
    void filterCurvesAreShadedFromTheBaselineOfTheirState()
    {
        PlotWidget plot;
        CZunHighOrderFilter* active = out(0)->NewHighOrderFilter();
        CZunHighOrderFilter* bypassed = out(1)->NewHighOrderFilter();
        QVERIFY(active && bypassed);
        bypassed->setBypass(true);
        plot.addCurve(active, CZunPlotCurve::Magnitude);
        plot.addCurve(bypassed, CZunPlotCurve::Magnitude);
        // the curves as the plot draws them
        QList<const QwtPlotCurve*> shown;
        for (const QwtPlotItem* item : plot.itemList(QwtPlotItem::Rtti_PlotCurve))
            shown << static_cast<const QwtPlotCurve*>(item);
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[0]->brush().style() != Qt::NoBrush);
        QCOMPARE(shown[0]->baseline(), -50.0);
        QCOMPARE(shown[1]->baseline(), 0.0);
        active->SetFrequency(500.0f);
        bypassed->SetFrequency(500.0f);
        QCOMPARE(shown[0]->baseline(), -50.0);
        QCOMPARE(shown[1]->baseline(), 0.0);
        active->setBypass(true);
        bypassed->setBypass(false);
        QCOMPARE(shown[0]->baseline(), 0.0);
        QCOMPARE(shown[1]->baseline(), -50.0);
        // so is a low-pass EQ that is bypassed when it is added
        CZunBiquad* lowPass = out(2)->NewEQ();
        lowPass->setType(0);
        lowPass->setBypass(true);
        plot.addCurve(lowPass, CZunPlotCurve::Magnitude);
        QCOMPARE(plot.curves().last()->baseline(), 0.0);
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
        QVERIFY(label->isChecked() && magnitude->style() == QwtPlotCurve::NoCurve);
        QCOMPARE(phase->style(), QwtPlotCurve::Lines);
        QTest::mouseClick(label, Qt::LeftButton);
        QCOMPARE(magnitude->style(), QwtPlotCurve::Lines);
        // the group switches hide their curves and check their entries
        plot.showPhaseCurves(false);
        plot.showEQCurves(false);
        QVERIFY(phase->style() == QwtPlotCurve::NoCurve && plot.legendLabel(phase)->isChecked());
        QVERIFY(eq->style() == QwtPlotCurve::NoCurve && plot.legendLabel(eq)->isChecked());
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
        out(2)->NewEQ()->setGain(-6.0f);
        compareWithResponse(c[4], out(2));
        compareWithResponse(c[5], out(2));
        page.findChild<QCheckBox*>()->click();
        QVERIFY(c[5]->style() == QwtPlotCurve::NoCurve && c[4]->style() == QwtPlotCurve::Lines);
    }

    void channelPageCurvesFollowItsEQsAndFilters()
    {
        ZunEQModel eqs(m_dev->zun);
        CZunBiquad* before = out(2)->NewEQ();
        auto p = page<ZunOutputDlg>(out(2), &eqs);
        p->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.get()));
        QCOMPARE(curvesOf(p->plot(), before), 1);
        p->setPointerCZun(m_dev->zun); // a second device pointer plots nothing twice
        QCOMPARE(p->plot()->curves().size(), 3);
        // New adds an EQ or a filter on the channel's slot, and its curve
        const QList<QPushButton*> buttons = p->findChildren<QPushButton*>();
        buttons[0]->click();
        buttons[2]->click();
        QPointer<CZunBiquad> added = out(2)->GetEQList().last();
        QPointer<CZunHighOrderFilter> filter = out(2)->GetHighOrderFilterList().first();
        QVERIFY(curvesOf(p->plot(), added) == 1 && curvesOf(p->plot(), filter) == 1);
        out(3)->NewEQ(); // another channel's
        QCOMPARE(p->plot()->curves().size(), 5);
        for (QCheckBox* box : p->findChildren<QCheckBox*>()) // not the tables' "Active" boxes
            if (box->text() == "Show EQ curves")
                box->click();
        for (CZunPlotCurve* c : p->plot()->curves())
            QCOMPARE(c->style(), c->kind() == CZunPlotCurve::EQBiquad ? QwtPlotCurve::NoCurve : QwtPlotCurve::Lines);
        // deleting EQs and filters while the page is shown takes their curves along
        m_dev->eq()->DeleteZunBiquad(added, true);
        m_dev->eq()->DeleteHighOrderFilter(filter, true);
        OfflineDevice::flushDeletes();
        QVERIFY(added.isNull() && filter.isNull());
        QCOMPARE(p->plot()->curves().size(), 3);
        p->plot()->repaint();
    }

    void newStopsAtTheDevicesCapacity()
    {
        ZunEQModel eqs(m_dev->zun);
        auto p = page<ZunInputDlg>(m_dev->zun->GetRoutingManager()->GetInputs().first().data(), &eqs);
        QString refused;
        int made = 0;
        while (refused.isEmpty() && made < 200) {
            refused = failure([&] { p->onButtonNewEQ(); });
            made += refused.isEmpty() ? 1 : 0;
        }
        QCOMPARE(refused, QStringLiteral("CEQManager::NewEQ(): No free EQ left."));
        QCOMPARE(p->plot()->curves().size(), made + 2);
        // a crossover filter needs free EQs for its sections: refused, nothing of it stays
        QCOMPARE(failure([&] { p->onButtonNewHOF(); }), refused);
        OfflineDevice::flushDeletes();
        QCOMPARE(m_dev->eq()->CountHighOrderFilters(-1), 0);
        QCOMPARE(p->plot()->curves().size(), made + 2);
    }

    void removeDeletesTheSelectedRowsOfItsChannel()
    {
        ZunEQModel eqs(m_dev->zun);
        for (int i = 0; i < 4; ++i)
            out(1)->NewEQ();
        for (int slot : {6, 10, 11}) { // slot 1 (Output 2) shows none of these
            bool section = false;
            m_dev->eq()->CreateEQ(slot, section);
        }
        auto p = page<ZunOutputDlg>(out(1), &eqs);
        QCOMPARE(p->eqProxy()->rowCount(), 4);
        p->onButtonRemoveEQ(); // nothing selected
        QCOMPARE(out(1)->GetEQList().size(), 4);
        QList<int> chosen; // three rows, several cells each
        for (int row : {0, 2, 3}) {
            chosen << p->eqProxy()->index(row, 0).data().toInt();
            for (int col : {3, 4, 5})
                p->eqTable()->selectionModel()->select(p->eqProxy()->index(row, col), QItemSelectionModel::Select);
        }
        p->findChildren<QPushButton*>()[1]->click();
        OfflineDevice::flushDeletes();
        QCOMPARE(out(1)->GetEQList().size(), 1);
        QVERIFY(!chosen.contains(out(1)->GetEQList().first()->getNumber()));
        QCOMPARE(p->plot()->curves().size(), 3);
        QCOMPARE(m_dev->eq()->CountActiveEQs(-1), 4);
        out(1)->NewEQ(); // a model reset keeps "Nr", "Name" and "Bank" hidden
        QVERIFY(p->eqTable()->isColumnHidden(0) && p->eqTable()->isColumnHidden(2));
    }

    // The tables' cells and titles are never cut off: names need more room than the widths
    // set for a small font, values held in single precision read with their own digits.
    void pageTablesShowWholeNamesAndValues()
    {
        CZunBiquad* shelf = out(0)->NewEQ();
        shelf->setType(m_dev->nr("Inf_Sel_Typ_EQ_HS12"));
        shelf->setQuality(1.4f);
        out(0)->NewHighOrderFilter()->setCharacteristic(m_dev->nr("Inf_Sel_Char_HOF_LinkRiley"));
        ZunEQModel eqs(m_dev->zun);
        ZunHOFModel hofs(m_dev->zun);
        auto p = std::make_unique<ZunOutputDlg>(out(0));
        p->setEQModel(&eqs);
        p->setHOFModel(&hofs);
        p->setPointerCZun(m_dev->zun);
        p->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.get()));
        const QFontMetrics fm = p->eqTable()->fontMetrics();
        struct Cells : EQTableDelegate
        {
            using EQTableDelegate::EQTableDelegate;
            using EQTableDelegate::cellText; // what the cell paints
        } cells(m_dev->zun, p->eqTable());
        QCOMPARE(cells.cellText(p->eqProxy()->index(0, ZunEQModel::ColQuality)), QStringLiteral("1.4"));
        QVERIFY(p->eqTable()->columnWidth(ZunEQModel::ColType) > fm.horizontalAdvance("high shelve 12dB"));
        QVERIFY(p->hofTable()->columnWidth(ZunHOFModel::ColCharacter) > fm.horizontalAdvance("Linkwitz-Riley"));
        for (QTableView* table : {static_cast<QTableView*>(p->eqTable()), static_cast<QTableView*>(p->hofTable())})
            QVERIFY(!table->horizontalScrollBar()->isVisible());
        // Mended: the Type column shrank to two letters when its list opened, and the
        // "Remove" buttons were cut at the page's first size.
        p->eqTable()->edit(p->eqProxy()->index(0, ZunEQModel::ColType));
        QComboBox* types = nullptr;
        for (QComboBox* box : p->eqTable()->viewport()->findChildren<QComboBox*>())
            types = box->isVisible() ? box : types;
        QVERIFY(types);
        QTRY_VERIFY(p->eqTable()->columnWidth(ZunEQModel::ColType) >= types->sizeHint().width());
        p->resize(p->minimumSizeHint());
        for (QPushButton* button : p->findChildren<QPushButton*>())
            QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
    }

    void proxiesGoWithThePage()
    {
        ZunEQModel eqs(m_dev->zun);
        auto p = page<ZunOutputDlg>(out(0), &eqs);
        QPointer<QAbstractItemModel> first = p->eqProxy();
        p->setEQModel(&eqs); // a second model replaces the proxy
        QVERIFY(first.isNull());
        QPointer<QAbstractItemModel> eqProxy = p->eqProxy(), hofProxy = p->hofProxy();
        p.reset();
        QVERIFY(eqProxy.isNull() && hofProxy.isNull());
    }

    // Colours go out in their fixed order (after the grid's place), one per curve; shaded
    // EQs and filters take the next colour, see-through.
    void curveColoursFollowTheirOrder()
    {
        PlotWidget plot;
        plot.addCurve(out(0), CZunPlotCurve::Magnitude, "Magnitude");
        plot.addCurve(out(0), CZunPlotCurve::Phase, "Phase");
        plot.addCurve(out(1), CZunPlotCurve::Magnitude, "Magnitude");
        plot.addCurve(out(0)->NewEQ(), CZunPlotCurve::Magnitude);
        const QList<CZunPlotCurve*> c = plot.curves();
        QCOMPARE(c.size(), 4);
        QStringList colours;
        for (const CZunPlotCurve* curve : c)
            colours << curve->pen().color().name(QColor::HexArgb);
        QCOMPARE(colours, QStringList({"#ffffff00", "#ffffffff", "#ffc0c0c0", "#4000ffff"}));
        QVERIFY(c[3]->pen().color().alpha() < 255 && c[3]->brush().color().alpha() < 255);
    }

    // Legend texts follow what they name: a crossover filter renamed by its new corner, and
    // on the outputs page one entry and one colour of its own per output.
    void legendTextsAndColoursFollowWhatTheyName()
    {
        PlotWidget plot;
        CZunHighOrderFilter* filter = out(0)->NewHighOrderFilter();
        plot.addCurve(filter, CZunPlotCurve::Magnitude);
        CZunPlotCurve* curve = plot.curves().first();
        QCOMPARE(curve->title().text(), filter->GetName());
        // a filter names itself after its new design once its new response is in
        filter->recalculate();
        filter->SetName(QStringLiteral("HP LR 24dB 80"));
        QCOMPARE(curve->title().text(), QStringLiteral("HP LR 24dB 80"));
        QCOMPARE(plot.legendLabel(curve)->data().title().text(), QStringLiteral("HP LR 24dB 80"));

        ZunOutputPlotDlg page;
        for (int i = 0; i < 8; ++i)
            page.addOutput(out(i));
        const QList<CZunPlotCurve*> c = page.plot()->curves();
        auto* legend = qobject_cast<QwtLegend*>(page.plot()->legend());
        QVERIFY(legend);
        QSet<QRgb> colours;
        for (int i = 0; i < 8; ++i) {
            QVERIFY(page.plot()->legendLabel(c[2 * i]));
            QVERIFY(!page.plot()->legendLabel(c[2 * i + 1])); // listed once
            QCOMPARE(c[2 * i + 1]->pen().color(), c[2 * i]->pen().color());
            colours.insert(c[2 * i]->pen().color().rgb());
        }
        QCOMPARE(colours.size(), 8);
        QCOMPARE(legend->findChildren<QwtLegendLabel*>().size(), 8);
        // an output's entry hides both its lines
        page.plot()->onLegendItemChecked(c[2], true);
        QVERIFY(c[2]->style() == QwtPlotCurve::NoCurve && c[3]->style() == QwtPlotCurve::NoCurve);
        page.plot()->onLegendItemChecked(c[2], false);
        QVERIFY(c[2]->style() == QwtPlotCurve::Lines && c[3]->style() == QwtPlotCurve::Lines);
    }
};

QTEST_MAIN(TestPlots)
#include "tst_plots.moc"
