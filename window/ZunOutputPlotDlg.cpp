#include "ZunOutputPlotDlg.h"

#include "CZunOutput.h"

#include <QLabel>
#include <QVBoxLayout>

ZunOutputPlotDlg::ZunOutputPlotDlg(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Outputs"), this));
}

void ZunOutputPlotDlg::addOutput(QPointer<CZunOutput> output) { m_outputs.append(output); }
