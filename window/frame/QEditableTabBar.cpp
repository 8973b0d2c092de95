#include "QEditableTabBar.h"

#include <QKeyEvent>
#include <QMouseEvent>

QEditableTabBar::QEditableTabBar(QWidget* parent) : QTabBar(parent)
{
    connect(this, &QTabBar::tabMoved, this, &QEditableTabBar::onTabMoved);
}

QEditableTabBar::~QEditableTabBar() { m_lineEdit.clear(); }

void QEditableTabBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The current tab is edited, wherever on the bar the click landed: the first click of
    // the double click has made the tab under the mouse current already.
    event->accept();
    const int index = currentIndex();
    if (index < 0 || !tabData(index).toBool())
        return;
    if (m_lineEdit) {
        cancelLineEdit();
        return;
    }
    m_editIndex = index;
    m_lineEdit = new QLineEdit(tabText(index), this);
    connect(m_lineEdit, &QLineEdit::editingFinished, this, &QEditableTabBar::closeLineEdit);
    m_lineEdit->setGeometry(tabRect(index));
    m_lineEdit->show();
    m_lineEdit->selectAll();
    m_lineEdit->setFocus(Qt::OtherFocusReason);
}

void QEditableTabBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_lineEdit)
            cancelLineEdit();
        event->accept();
        return;
    }
    // Not QTabBar's arrow-key navigation: the bar only edits.
    QWidget::keyPressEvent(event);
}

void QEditableTabBar::closeLineEdit()
{
    if (!m_lineEdit)
        return;
    QLineEdit* editor = m_lineEdit;
    // editingFinished comes again when the hidden editor loses its focus: report once.
    editor->disconnect(this);
    const int index = m_editIndex;
    const QString newName = editor->text();
    editor->hide();
    editor->deleteLater();
    m_lineEdit.clear();
    m_editIndex = -1;
    // A name must say something: a blank one leaves the tab as it was.
    if (index < 0 || index >= count() || newName.trimmed().isEmpty())
        return;
    const QString oldName = tabText(index);
    emit nameChanged(oldName, newName);
    emit tabRenamed(index, oldName, newName);
    // A receiver may have removed the tab meanwhile.
    if (index < count() && tabText(index) == oldName)
        setTabText(index, newName);
}

void QEditableTabBar::tabInserted(int index)
{
    QTabBar::tabInserted(index);
    if (m_lineEdit && index <= m_editIndex)
        ++m_editIndex;
}

void QEditableTabBar::tabRemoved(int index)
{
    QTabBar::tabRemoved(index);
    if (!m_lineEdit)
        return;
    if (index == m_editIndex)
        cancelLineEdit(); // the tab is gone: the edit has nothing left to rename
    else if (index < m_editIndex)
        --m_editIndex;
}

void QEditableTabBar::onTabMoved(int from, int to)
{
    if (!m_lineEdit)
        return;
    if (from == m_editIndex)
        m_editIndex = to;
    else if (from < m_editIndex && to >= m_editIndex)
        --m_editIndex;
    else if (from > m_editIndex && to <= m_editIndex)
        ++m_editIndex;
}

void QEditableTabBar::cancelLineEdit()
{
    // Closing a focused editor would finish the edit through its focus loss; a cancelled
    // edit reports nothing, and the editor goes whether it had the focus or not, so the
    // next double click opens a new one.
    QLineEdit* editor = m_lineEdit;
    editor->disconnect(this);
    editor->close();
    editor->deleteLater();
    m_lineEdit.clear();
    m_editIndex = -1;
}
