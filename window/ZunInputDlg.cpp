#include "ZunInputDlg.h"

#include "CZun.h"
#include "CZunInput.h"

#include <QLabel>
#include <QVBoxLayout>

ZunInputDlg::ZunInputDlg(CZunInput* channel, QWidget* parent) : QWidget(parent), m_channel(channel)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(channel ? channel->GetName() : QString(), this));
}

void ZunInputDlg::setEQModel(ZunEQModel* model) { m_eqModel = model; }
void ZunInputDlg::setHOFModel(ZunHOFModel* model) { m_hofModel = model; }
void ZunInputDlg::setPointerCZun(QSharedPointer<CZun> zun) { m_zun = std::move(zun); }
