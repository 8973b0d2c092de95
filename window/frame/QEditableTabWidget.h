#pragma once

#include <QTabWidget>

class QEditableTabBar;

// A tab widget whose tabs marked with the tab data true can be renamed by the user (see
// QEditableTabBar); tabNameChanged reports each rename, pageRenamed the same rename with
// the page whose tab it was (the page, not the text, says what was renamed).
class QEditableTabWidget : public QTabWidget
{
    Q_OBJECT
public:
    explicit QEditableTabWidget(QWidget* parent = nullptr);

    QEditableTabBar* editableTabBar() const;

signals:
    void tabNameChanged(QString oldName, QString newName);
    void pageRenamed(QWidget* page, QString oldName, QString newName);
};
