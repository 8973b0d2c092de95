#include "ZunAdvancedSettingsWidget.h"

#include "CZun.h"

#include <QLabel>
#include <QVBoxLayout>

ZunAdvancedSettingsWidget::ZunAdvancedSettingsWidget(QSharedPointer<CZun> zun, QWidget* parent)
    : QWidget(parent), m_zun(std::move(zun))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Advanced"), this));
}

void ZunAdvancedSettingsWidget::UpdateGui() {}
