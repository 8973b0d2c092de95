#include "QEditableTabWidget.h"

#include "QEditableTabBar.h"

QEditableTabWidget::QEditableTabWidget(QWidget* parent) : QTabWidget(parent)
{
    auto* bar = new QEditableTabBar;
    setTabBar(bar);
    connect(bar, &QEditableTabBar::nameChanged, this, &QEditableTabWidget::tabNameChanged);
}

QEditableTabBar* QEditableTabWidget::editableTabBar() const { return static_cast<QEditableTabBar*>(tabBar()); }
