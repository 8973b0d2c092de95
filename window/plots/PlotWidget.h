#pragma once

#include "CZunPlotCurve.h"

#include <QColor>
#include <QList>
#include <QVector>

#include <qwt_plot.h>
#include <qwt_scale_div.h>

class CZunAbstractFrequencyResponse;
class QwtLegendLabel;
class QwtPlotItem;

// The frequency-response chart: logarithmic frequency axis 20 Hz to 20 kHz, magnitude in dB
// on the left, phase in degrees on the right, fixed tick divisions (the axes never follow
// the data) and a checkable legend, where a checked entry hides its curve. It owns one
// CZunPlotCurve per plotted response; a curve leaves the plot (and is deleted) when its
// response is removed or destroyed.
class PlotWidget : public QwtPlot
{
    Q_OBJECT
public:
    explicit PlotWidget(QWidget* parent = nullptr);
    ~PlotWidget() override;

    // The fixed divisions of the three axes.
    static QwtScaleDiv magnitudeDivision();
    static QwtScaleDiv phaseDivision();
    static QwtScaleDiv frequencyDivision();

    QList<CZunPlotCurve*> curves() const { return m_curves; }
    // The legend entry of a curve (null when it has none).
    QwtLegendLabel* legendLabel(CZunPlotCurve* curve) const;

public slots:
    void addCurve(CZunAbstractFrequencyResponse* response, CZunPlotCurve::PlotDomain domain, QString title);
    void addCurve(CZunAbstractFrequencyResponse* response, CZunPlotCurve::PlotDomain domain);
    void refreshCurve(CZunAbstractFrequencyResponse* response);
    void removeCurve(CZunAbstractFrequencyResponse* response);
    void onLegendItemChecked(QwtPlotItem* item, bool on);
    void showPhaseCurves(bool show);
    void showEQCurves(bool show);
    void showFilterCurves(bool show);

private slots:
    void on_ResponseDestroyed();

private:
    template <typename Match>
    void showCurves(bool show, Match match);
    // The magnitude curve of a response titled after it, or null.
    const CZunPlotCurve* namedMagnitude(const CZunAbstractFrequencyResponse* response) const;
    // A phase drawn beside its response's named magnitude (listed under that entry).
    static bool isSecondLine(const CZunPlotCurve* curve);

    QVector<QColor> m_colors;
    QList<CZunPlotCurve*> m_curves;
    bool m_phaseShown = true;
};
