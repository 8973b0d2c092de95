#include "QWizardComboBox.h"

#include "ZunStyle.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QScrollBar>

QWizardComboBox::QWizardComboBox(bool editableFirst, QWidget* parent) : QComboBox(parent), m_editableFirst(editableFirst)
{
    connect(this, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &QWizardComboBox::onCurrentIdxChanged);
    connect(this, &QComboBox::editTextChanged, this, &QWizardComboBox::onEditTextChanged);
    ZunStyle::applyTo(this, QStringLiteral("Plastique"));
}

void QWizardComboBox::showPopup()
{
    QAbstractItemView* list = view();
    list->setTextElideMode(Qt::ElideNone);
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth()
                          + (count() > maxVisibleItems() ? list->verticalScrollBar()->sizeHint().width() : 0));
    QComboBox::showPopup();
}

void QWizardComboBox::onCurrentIdxChanged(int index)
{
    m_typing = false;
    if (m_editableFirst)
        setEditable(index == 0);
    // Each change of editability makes a new line edit.
    if (QLineEdit* edit = lineEdit())
        connect(edit, &QLineEdit::editingFinished, this, &QWizardComboBox::onEditingFinished, Qt::UniqueConnection);
    setCurrentItemData(itemData(index, Qt::UserRole));
}

void QWizardComboBox::onEditingFinished()
{
    if (!m_typing)
        return;
    m_typing = false;
    emit typingFinished();
}

void QWizardComboBox::onEditTextChanged(const QString& text)
{
    if (currentIndex() != 0)
        return;
    // Rewriting the current item puts its text back into the line edit, which moves the
    // cursor to the end: the operator's cursor stays where it was typed at.
    QLineEdit* edit = lineEdit();
    // Keys mark the line as modified; a text set by the program does not (and rewriting
    // the item below clears the mark again).
    m_typing = edit && edit->isModified();
    const int cursor = edit ? edit->cursorPosition() : 0;
    setItemText(0, text);
    setItemData(0, text, Qt::UserRole);
    if (edit && edit->text() == text)
        edit->setCursorPosition(cursor);
    setCurrentItemData(QVariant(text));
}

void QWizardComboBox::setCurrentItemData(const QVariant& value)
{
    if (value == m_currentItemData)
        return;
    m_currentItemData = value;
    emit currentItemDataChanged(m_currentItemData);
}
