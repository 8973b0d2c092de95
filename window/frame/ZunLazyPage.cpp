#include "ZunLazyPage.h"

#include <QVBoxLayout>

ZunLazyPage::ZunLazyPage(std::function<QWidget*()> make, QWidget* parent)
    : QWidget(parent), m_make(std::move(make)), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
}

QWidget* ZunLazyPage::build()
{
    if (m_page || !m_make)
        return m_page;
    m_page = m_make();
    m_make = nullptr;
    m_layout->addWidget(m_page);
    // Made while this place is being shown: the page shows with it, not a turn later.
    if (isVisible())
        m_page->show();
    emit built(m_page);
    return m_page;
}

void ZunLazyPage::showEvent(QShowEvent* event)
{
    build();
    QWidget::showEvent(event);
}
