#include "PlotWidget.h"

#include "CZunAbstractFrequencyResponse.h"
#include "ScaleDraw1000k.h"

#include <QPen>

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_grid.h>
#include <qwt_scale_engine.h>

namespace {

constexpr int TranslucentAlpha = 64;

QwtScaleDiv division(double lower, double upper, const QList<double>& minor, const QList<double>& medium,
                     const QList<double>& major)
{
    return QwtScaleDiv(lower, upper, minor, medium, major);
}

// Every whole step from lower to upper except the multiples of skip.
QList<double> between(int lower, int upper, int step, int skip)
{
    QList<double> ticks;
    for (int v = lower; v <= upper; v += step)
        if (v % skip != 0)
            ticks.append(v);
    return ticks;
}

} // namespace

PlotWidget::PlotWidget(QWidget* parent)
    : QwtPlot(parent),
      // Eight colours that tell eight outputs apart on the dark canvas.
      m_colors{Qt::darkRed, Qt::yellow, Qt::white, Qt::lightGray, Qt::cyan, Qt::magenta, Qt::gray, Qt::green}
{
    setAutoReplot(true);
    setCanvasBackground(QBrush(QColor(0, 0, 64)));

    auto* legend = new QwtLegend;
    legend->setFrameStyle(QFrame::Box | QFrame::Sunken);
    legend->setDefaultItemMode(QwtLegendData::Checkable);
    insertLegend(legend, QwtPlot::RightLegend);
    connect(legend, &QwtLegend::checked, this,
            [this](const QVariant& info, bool on, int) { onLegendItemChecked(infoToItem(info), on); });

    auto* grid = new QwtPlotGrid;
    grid->enableXMin(true);
    grid->enableYMin(false);
    grid->setMajorPen(Qt::darkGray, 0, Qt::SolidLine);
    grid->setMinorPen(Qt::darkGray, 0, Qt::SolidLine);
    grid->attach(this);

    enableAxis(QwtPlot::yRight);
    setAxisTitle(QwtPlot::yLeft, QwtText("Magnitude [dB]"));
    setAxisTitle(QwtPlot::yRight, QwtText("Phase [deg]"));
    setAxisScaleDiv(QwtPlot::yLeft, magnitudeDivision());
    setAxisScaleDiv(QwtPlot::yRight, phaseDivision());

    setAxisMaxMajor(QwtPlot::xBottom, 6);
    setAxisMaxMinor(QwtPlot::xBottom, 10);
    setAxisScaleEngine(QwtPlot::xBottom, new QwtLogScaleEngine);
    setAxisScaleDiv(QwtPlot::xBottom, frequencyDivision());
    setAxisScaleDraw(QwtPlot::xBottom, new ScaleDraw1000k);

    setAutoReplot(true);
}

// The attached curves go with the plot (Qwt deletes its items).
PlotWidget::~PlotWidget() = default;

QwtScaleDiv PlotWidget::magnitudeDivision()
{
    return division(-18, 18, between(-17, 17, 1, 3), {-15, -9, -3, 3, 9, 15}, {-18, -12, -6, 0, 6, 12, 18});
}

QwtScaleDiv PlotWidget::phaseDivision()
{
    return division(-180, 180, between(-170, 170, 10, 30), {-150, -90, -30, 30, 90, 150},
                    {-180, -120, -60, 0, 60, 120, 180});
}

QwtScaleDiv PlotWidget::frequencyDivision()
{
    return division(20, 20000,
                    {20, 30, 40, 60, 70, 80, 90, 200, 300, 400, 600, 700, 800, 900, 2000, 3000, 4000, 6000, 7000,
                     8000, 9000, 12000, 18000},
                    {50, 500, 5000, 15000}, {20, 100, 1000, 10000, 20000});
}

QwtLegendLabel* PlotWidget::legendLabel(CZunPlotCurve* curve) const
{
    auto* legend = qobject_cast<const QwtLegend*>(this->legend());
    if (!legend || !curve)
        return nullptr;
    return qobject_cast<QwtLegendLabel*>(legend->legendWidget(itemToInfo(curve)));
}

void PlotWidget::addCurve(CZunAbstractFrequencyResponse* response, CZunPlotCurve::PlotDomain domain, QString title)
{
    const bool autoReplot = this->autoReplot();
    setAutoReplot(false);
    const bool named = title.isEmpty();
    const QString name = named ? CZunPlotCurve::responseName(response) : title;
    CZunPlotCurve* curve = nullptr;
    try {
        curve = new CZunPlotCurve(response, domain, name);
    } catch (...) {
        setAutoReplot(autoReplot);
        throw;
    }
    // A curve named after its EQ or filter follows that name when it changes.
    curve->setRetitle(named);
    // The phase of a response whose magnitude is already shown under the same name is
    // that response's second line: its colour, no legend entry of its own (an output is
    // listed once, and its entry hides both lines).
    const CZunPlotCurve* magnitude = named && domain == CZunPlotCurve::Phase ? namedMagnitude(response) : nullptr;
    if (magnitude)
        curve->setItemAttribute(QwtPlotItem::Legend, false);
    int coloured = itemList().size();
    for (const CZunPlotCurve* c : qAsConst(m_curves))
        coloured -= isSecondLine(c) ? 1 : 0;
    m_curves.append(curve);

    QColor color = magnitude ? magnitude->pen().color() : m_colors[coloured % m_colors.size()];
    QColor translucent = color;
    translucent.setAlpha(TranslucentAlpha);
    switch (domain) {
    case CZunPlotCurve::Magnitude:
        curve->setPen(color, 1.5, Qt::SolidLine);
        curve->setYAxis(QwtPlot::yLeft);
        break;
    case CZunPlotCurve::Phase:
        curve->setPen(color, 0, Qt::SolidLine);
        curve->setYAxis(QwtPlot::yRight);
        break;
    default:
        curve->setPen(translucent, 0);
        curve->setBrush(translucent);
        curve->setYAxis(QwtPlot::yLeft);
        break;
    }
    if (curve->kind() == CZunPlotCurve::HighOrderFilter || curve->kind() == CZunPlotCurve::EQBiquad) {
        curve->setPen(translucent, 0);
        curve->setBrush(translucent);
        curve->setYAxis(QwtPlot::yLeft);
        // the curve sets its own baseline: it follows the state of the EQ or filter
    }
    curve->setLegendAttribute(QwtPlotCurve::LegendShowLine, true);
    curve->setLegendAttribute(QwtPlotCurve::LegendShowBrush, true);
    curve->attach(this);
    // A destroyed response takes its curves along, also when nobody calls removeCurve.
    connect(response, &QObject::destroyed, this, &PlotWidget::on_ResponseDestroyed, Qt::UniqueConnection);

    setAutoReplot(autoReplot);
    replot();
}

void PlotWidget::addCurve(CZunAbstractFrequencyResponse* response, CZunPlotCurve::PlotDomain domain)
{
    addCurve(response, domain, QString());
}

void PlotWidget::refreshCurve(CZunAbstractFrequencyResponse*) { replot(); }

void PlotWidget::removeCurve(CZunAbstractFrequencyResponse* response)
{
    const bool autoReplot = this->autoReplot();
    setAutoReplot(false);
    const QList<CZunPlotCurve*> curves = m_curves;
    for (CZunPlotCurve* curve : curves) {
        if (curve->response() && curve->response() != response)
            continue;
        m_curves.removeOne(curve);
        curve->detach();
        delete curve;
    }
    setAutoReplot(autoReplot);
    replot();
}

void PlotWidget::on_ResponseDestroyed() { removeCurve(nullptr); }

const CZunPlotCurve* PlotWidget::namedMagnitude(const CZunAbstractFrequencyResponse* response) const
{
    for (const CZunPlotCurve* c : m_curves)
        if (c->response() == response && c->domain() == CZunPlotCurve::Magnitude && c->retitle())
            return c;
    return nullptr;
}

bool PlotWidget::isSecondLine(const CZunPlotCurve* curve)
{
    return !curve->testItemAttribute(QwtPlotItem::Legend);
}

void PlotWidget::onLegendItemChecked(QwtPlotItem* item, bool on)
{
    auto* curve = dynamic_cast<CZunPlotCurve*>(item);
    if (!curve)
        return;
    curve->setStyle(on ? QwtPlotCurve::NoCurve : QwtPlotCurve::Lines);
    // The entry stands for the response's second line too (shown only while phases are).
    for (CZunPlotCurve* c : qAsConst(m_curves))
        if (isSecondLine(c) && c->response() == curve->response())
            c->setStyle(on || !m_phaseShown ? QwtPlotCurve::NoCurve : QwtPlotCurve::Lines);
}

template <typename Match>
void PlotWidget::showCurves(bool show, Match match)
{
    for (CZunPlotCurve* curve : qAsConst(m_curves)) {
        if (!match(curve))
            continue;
        curve->setStyle(show ? QwtPlotCurve::Lines : QwtPlotCurve::NoCurve);
        if (QwtLegendLabel* label = legendLabel(curve))
            label->setChecked(!show);
    }
}

void PlotWidget::showPhaseCurves(bool show)
{
    m_phaseShown = show;
    showCurves(show, [](CZunPlotCurve* c) { return c->domain() == CZunPlotCurve::Phase && !isSecondLine(c); });
    // A second line also stays hidden while its response's entry is checked.
    for (CZunPlotCurve* c : qAsConst(m_curves)) {
        if (!isSecondLine(c))
            continue;
        const CZunPlotCurve* magnitude = namedMagnitude(c->response());
        const bool hidden = magnitude && magnitude->style() == QwtPlotCurve::NoCurve;
        c->setStyle(show && !hidden ? QwtPlotCurve::Lines : QwtPlotCurve::NoCurve);
    }
}

void PlotWidget::showEQCurves(bool show)
{
    showCurves(show, [](CZunPlotCurve* c) { return c->kind() == CZunPlotCurve::EQBiquad; });
}

void PlotWidget::showFilterCurves(bool show)
{
    showCurves(show, [](CZunPlotCurve* c) { return c->kind() == CZunPlotCurve::HighOrderFilter; });
}
