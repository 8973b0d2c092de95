#include "CZunPlotCurve.h"

#include "CZunAbstractFrequencyResponse.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunInput.h"
#include "CZunOutput.h"

#include <qwt_plot.h>

#include <stdexcept>

namespace {
// Pass EQs (low and high pass of first and second order) and active crossover filters are
// shaded from here; everything else from 0 dB.
constexpr double PassBaseline = -50.0;
constexpr quint16 FirstNonPassType = 4;
} // namespace

CZunPlotCurve::CZunPlotCurve(CZunAbstractFrequencyResponse* response, PlotDomain domain, QString title)
    : QObject(nullptr), QwtPlotCurve(title), m_response(response), m_domain(domain)
{
    if (qobject_cast<CZunBiquad*>(response)) {
        m_kind = EQBiquad;
    } else if (qobject_cast<CZunHighOrderFilter*>(response)) {
        m_kind = HighOrderFilter;
    } else if (qobject_cast<CZunInput*>(response)) {
        m_kind = InputChannel;
    } else if (qobject_cast<CZunOutput*>(response)) {
        m_kind = OutputChannel;
    } else {
        throw std::logic_error("CZunPlotCurve: unknown plot type.");
    }
    setTitle(title.isEmpty() ? domainText(domain) : title);
    setRenderHint(QwtPlotItem::RenderAntialiased, true);
    takeSamples();
    shadeByState();
    connect(response, &CZunAbstractFrequencyResponse::dataChanged, this, &CZunPlotCurve::refresh);
    // A filter names itself after its design once the new response is in (a corner moved
    // from 100 to 80 Hz renames it after the data changed): the legend follows the name.
    connect(response, &CZunAbstractFrequencyResponse::nameChanged, this, [this]() {
        if (m_retitle && m_response)
            setTitle(responseName(m_response));
    });
}

CZunPlotCurve::~CZunPlotCurve() = default;

QString CZunPlotCurve::domainText(int domain)
{
    switch (domain) {
    case Magnitude: return QStringLiteral("Magnitude");
    case Phase: return QStringLiteral("Phase");
    case GroupDelay: return QStringLiteral("Gr. delay");
    default: return QString();
    }
}

QString CZunPlotCurve::responseName(const CZunAbstractFrequencyResponse* response)
{
    if (!response)
        return QString();
    if (auto* output = qobject_cast<const CZunOutput*>(response))
        return output->GetName();
    if (auto* input = qobject_cast<const CZunInput*>(response))
        return input->GetName();
    return response->GetName();
}

void CZunPlotCurve::takeSamples()
{
    const bool phase = m_domain == Phase;
    setYAxis(phase ? QwtPlot::yRight : QwtPlot::yLeft);
    const QVector<double> x = *m_response->getFrequencies();
    const QVector<double> y = phase ? *m_response->getPhase() : *m_response->getMagnitude();
    setSamples(x, y);
}

void CZunPlotCurve::shadeByState()
{
    if (m_kind == EQBiquad) {
        auto* eq = static_cast<CZunBiquad*>(m_response.data());
        setBaseline(eq->getType() < FirstNonPassType && !eq->isBypassed() ? PassBaseline : 0.0);
    } else if (m_kind == HighOrderFilter) {
        setBaseline(static_cast<CZunHighOrderFilter*>(m_response.data())->isBypassed() ? 0.0 : PassBaseline);
    }
}

void CZunPlotCurve::refresh()
{
    if (!m_response)
        return;
    // One replot for the whole update, not one per changed attribute.
    QwtPlot* owner = plot();
    const bool autoReplot = owner && owner->autoReplot();
    if (owner)
        owner->setAutoReplot(false);
    takeSamples();
    if (m_retitle)
        setTitle(responseName(m_response));
    shadeByState();
    if (owner) {
        owner->setAutoReplot(autoReplot);
        if (autoReplot)
            owner->replot();
    }
    emit dataChanged();
}
