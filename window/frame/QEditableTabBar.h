#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QTabBar>

// A tab bar whose tabs can be renamed in place: a double click on the current tab opens a
// line editor over it, provided the tab's data is true. When editing finishes the bar
// reports the old and the new text (before the tab shows the new one) and takes the new
// text over. Escape, or another double click, cancels the edit.
//
// The edit belongs to the tab it was opened on: clicking another tab meanwhile, or tabs
// coming and going, does not move it; when that tab is removed the edit ends unreported.
// An empty (or blank) name is refused: the tab keeps its text and nothing is reported.
class QEditableTabBar : public QTabBar
{
    Q_OBJECT
public:
    explicit QEditableTabBar(QWidget* parent = nullptr);
    ~QEditableTabBar() override;

    // The open editor, null while none is open.
    QLineEdit* lineEdit() const { return m_lineEdit; }
    // The tab being edited, -1 while none is.
    int editedIndex() const { return m_lineEdit ? m_editIndex : -1; }

signals:
    void nameChanged(QString oldName, QString newName);
    // The same rename with the index of the tab it belongs to.
    void tabRenamed(int index, QString oldName, QString newName);

public slots:
    void closeLineEdit();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;

private:
    void cancelLineEdit();
    void onTabMoved(int from, int to);

    QPointer<QLineEdit> m_lineEdit;
    int m_editIndex = -1;
};
