#include "ZunSystemWidget.h"

#include "CZun.h"

#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <stdexcept>

ZunSystemWidget::ZunSystemWidget(QSharedPointer<CZun> zun, QWidget* parent) : QWidget(parent), m_zun(std::move(zun))
{
    auto* layout = new QVBoxLayout(this);
    m_connect = new QPushButton(tr("&Connect"), this);
    m_connect->setCheckable(true);
    layout->addWidget(m_connect);
    layout->addStretch();
    connect(m_connect, &QPushButton::clicked, this, &ZunSystemWidget::on_connect);
    if (!m_zun)
        return;
    connect(m_zun.data(), &CZun::signal_Connected, this, [this] {
        m_connect->setEnabled(true);
        m_connect->setText(QStringLiteral("&Disconnect"));
    }, Qt::QueuedConnection);
    connect(m_zun.data(), &CZun::signal_Disconnected, this, [this] {
        m_connect->setEnabled(true);
        m_connect->setChecked(false);
        m_connect->setText(QStringLiteral("&Connect"));
    }, Qt::QueuedConnection);
}

ZunSystemWidget::~ZunSystemWidget()
{
    if (m_zun)
        m_zun->disconnect();
}

void ZunSystemWidget::UpdateGui() {}

void ZunSystemWidget::do_connect() { m_connect->click(); }

void ZunSystemWidget::on_connect()
{
    if (!m_zun)
        return;
    try {
        if (!m_zun->IsConnected()) {
            m_connect->setEnabled(false);
            m_zun->connect(true);
        } else {
            m_zun->disconnect();
        }
    } catch (const std::logic_error& e) {
        m_connect->setEnabled(true);
        m_connect->setChecked(false);
        QMessageBox::information(this, tr("ZunControl"), tr(e.what()), QMessageBox::Ok);
    }
}

void ZunSystemWidget::on_CZunException() { m_connect->setEnabled(true); }
