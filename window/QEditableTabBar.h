#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QTabBar>

// A tab bar whose tabs can be renamed in place: a double click on the current tab opens a
// line editor over it, provided the tab's data is true. When editing finishes the bar
// reports the old and the new text (before the tab shows the new one) and takes the new
// text over. Escape, or another double click, cancels the edit. No check is made on the
// text: the receiver decides what it means.
class QEditableTabBar : public QTabBar
{
    Q_OBJECT
public:
    explicit QEditableTabBar(QWidget* parent = nullptr);
    ~QEditableTabBar() override;

    // The open editor, null while none is open.
    QLineEdit* lineEdit() const { return m_lineEdit; }

signals:
    void nameChanged(QString oldName, QString newName);

public slots:
    void closeLineEdit();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void cancelLineEdit();

    QPointer<QLineEdit> m_lineEdit;
};
