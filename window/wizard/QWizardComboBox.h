#pragma once

#include <QComboBox>
#include <QVariant>

// A combo box whose wizard field is the data of its current item. With "editable first"
// its item 0 is a free-text entry whose data is the typed text.
class QWizardComboBox : public QComboBox
{
    Q_OBJECT
    Q_PROPERTY(QVariant currentItemData READ currentItemData WRITE setCurrentItemData NOTIFY currentItemDataChanged)
public:
    explicit QWizardComboBox(bool editableFirst, QWidget* parent = nullptr);

    QVariant currentItemData() const { return m_currentItemData; }
    // Item 0 holds text the operator is typing: they have not left the field (nor pressed
    // Return) since their last key.
    bool isTyping() const { return m_typing; }

    // The open list is as wide as its longest text: narrower, the style cut the texts in
    // their middle ("4…>2").
    void showPopup() override;

signals:
    void currentItemDataChanged(QVariant value);
    // The operator left the field, or pressed Return, after typing into it.
    void typingFinished();

public slots:
    void onCurrentIdxChanged(int index);
    void onEditTextChanged(const QString& text);
    void setCurrentItemData(const QVariant& value);

private:
    void onEditingFinished();

    QVariant m_currentItemData;
    bool m_editableFirst;
    bool m_typing = false;
};
