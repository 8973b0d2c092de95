#include "LimiterWidget.h"

#include "CZun.h"

#include <QLabel>
#include <QVBoxLayout>

LimiterWidget::LimiterWidget(QSharedPointer<CZun> zun, QWidget* parent) : QWidget(parent), m_zun(std::move(zun))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Limiter"), this));
}
