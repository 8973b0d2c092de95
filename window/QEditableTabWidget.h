#pragma once

#include <QTabWidget>

class QEditableTabBar;

// A tab widget whose tabs marked with the tab data true can be renamed by the user (see
// QEditableTabBar); tabNameChanged reports each rename.
class QEditableTabWidget : public QTabWidget
{
    Q_OBJECT
public:
    explicit QEditableTabWidget(QWidget* parent = nullptr);

    QEditableTabBar* editableTabBar() const;

signals:
    void tabNameChanged(QString oldName, QString newName);
};
