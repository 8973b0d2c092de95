#pragma once

#include "CZunAbstractFrequencyResponse.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <qwt_plot_curve.h>

// One frequency response of the device model (a channel, an EQ or a crossover filter) as a
// Qwt curve: the response's grid against its magnitude (left axis) or its phase (right
// axis), copied again whenever the response announces new data. The curve never owns its
// response and outlives it harmlessly (the guard goes null, refresh does nothing); the plot
// it is attached to owns the curve.
class CZunPlotCurve : public QObject, public QwtPlotCurve
{
    Q_OBJECT
public:
    enum PlotDomain { Magnitude = 0, Phase = 1, GroupDelay = 2 };
    Q_ENUM(PlotDomain)
    // What the response is; tells the plot how to shade it.
    enum Kind { InputChannel = 0, OutputChannel = 1, HighOrderFilter = 2, EQBiquad = 3 };

    // Throws std::logic_error for a response that is none of the four kinds.
    CZunPlotCurve(CZunAbstractFrequencyResponse* response, PlotDomain domain, QString title);
    ~CZunPlotCurve() override;

    // "Magnitude", "Phase", "Gr. delay"; empty for any other value.
    static QString domainText(int domain);
    // The name a response is shown with (channels keep names of their own).
    static QString responseName(const CZunAbstractFrequencyResponse* response);

    CZunAbstractFrequencyResponse* response() const { return m_response; }
    int kind() const { return m_kind; }
    PlotDomain domain() const { return m_domain; }

    // When set, every refresh renames the curve after its response.
    void setRetitle(bool on) { m_retitle = on; }
    bool retitle() const { return m_retitle; }

signals:
    // New samples, after refresh has set them and replotted once. It takes the place of
    // the toolkit's own notice of new samples, which would replot at every change.
    void dataChanged() override;

public slots:
    void refresh();

private:
    void takeSamples();
    // The baseline the curve is shaded from, after the kind and state of its response.
    void shadeByState();

    bool m_retitle = false;
    QPointer<CZunAbstractFrequencyResponse> m_response;
    int m_kind = InputChannel;
    PlotDomain m_domain;
};
