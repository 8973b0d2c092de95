#include "QEditableTabWidget.h"

#include "QEditableTabBar.h"

QEditableTabWidget::QEditableTabWidget(QWidget* parent) : QTabWidget(parent)
{
    auto* bar = new QEditableTabBar;
    setTabBar(bar);
    connect(bar, &QEditableTabBar::nameChanged, this, &QEditableTabWidget::tabNameChanged);
    connect(bar, &QEditableTabBar::tabRenamed, this, [this](int index, const QString& oldName, const QString& newName) {
        if (QWidget* page = widget(index))
            emit pageRenamed(page, oldName, newName);
    });
}

QEditableTabBar* QEditableTabWidget::editableTabBar() const { return static_cast<QEditableTabBar*>(tabBar()); }
