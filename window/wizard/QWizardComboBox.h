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

signals:
    void currentItemDataChanged(QVariant value);

public slots:
    void onCurrentIdxChanged(int index);
    void onEditTextChanged(const QString& text);
    void setCurrentItemData(const QVariant& value);

private:
    QVariant m_currentItemData;
    bool m_editableFirst;
};
