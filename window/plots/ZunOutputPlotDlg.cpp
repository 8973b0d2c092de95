#include "ZunOutputPlotDlg.h"

#include "CZun.h"
#include "CZunOutput.h"
#include "PlotWidget.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

ZunOutputPlotDlg::ZunOutputPlotDlg(QWidget* parent) : QWidget(parent)
{
    qRegisterMetaType<QPtrCZunOutput>("QPtrCZunOutput");
    m_layout = new QVBoxLayout;
    m_plot = new PlotWidget;
    m_plot->setMinimumHeight(30);
    m_plot->setAutoReplot(true);
    m_layout->addWidget(m_plot);

    auto* row = new QHBoxLayout;
    auto* phase = new QCheckBox("Show phase curves");
    phase->setChecked(true);
    row->addWidget(phase, 0, Qt::AlignRight);
    connect(phase, &QCheckBox::clicked, m_plot, &PlotWidget::showPhaseCurves);
    m_layout->addLayout(row);
    setLayout(m_layout);
}

void ZunOutputPlotDlg::setPointerCZun(QSharedPointer<CZun> zun)
{
    m_zun = zun;
    emit pointerCZunChanged(zun);
}

void ZunOutputPlotDlg::addOutput(QPtrCZunOutput output)
{
    if (!output)
        return;
    m_plot->addCurve(output, CZunPlotCurve::Magnitude, QString());
    m_plot->addCurve(output, CZunPlotCurve::Phase, QString());
}
