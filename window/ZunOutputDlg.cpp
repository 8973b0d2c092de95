#include "ZunOutputDlg.h"

#include "CZun.h"
#include "CZunOutput.h"

#include <QLabel>
#include <QVBoxLayout>

ZunOutputDlg::ZunOutputDlg(CZunOutput* channel, QWidget* parent) : QWidget(parent), m_channel(channel)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(channel ? channel->GetName() : QString(), this));
}

void ZunOutputDlg::setEQModel(ZunEQModel* model) { m_eqModel = model; }
void ZunOutputDlg::setHOFModel(ZunHOFModel* model) { m_hofModel = model; }
void ZunOutputDlg::setPointerCZun(QSharedPointer<CZun> zun) { m_zun = std::move(zun); }
