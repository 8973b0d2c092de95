#include "GainWidget.h"

#include "AudioIOStatus.h"
#include "CZun.h"

#include <QLabel>
#include <QVBoxLayout>

GainWidget::GainWidget(int mode, QSharedPointer<CZun> zun, QSharedPointer<AudioIOStatus> status, QWidget* parent)
    : QWidget(parent), m_mode(mode), m_zun(std::move(zun)), m_status(std::move(status))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Gains"), this));
}

void GainWidget::setMode(int mode) { m_mode = mode; }

void GainWidget::UpdateGui() {}
void GainWidget::on_connect() {}
void GainWidget::on_disconnect() {}

void GainWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    emit changedVisibility(true);
}

void GainWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    emit changedVisibility(false);
}
