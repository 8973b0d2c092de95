#pragma once

#include <QDialog>

class QAbstractItemModel;
class QComboBox;
class QLabel;
class QPushButton;

// Chooses one entry of a list. "Remove" is enabled only while a valid entry is selected.
class RemoveForm : public QDialog
{
    Q_OBJECT
public:
    explicit RemoveForm(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model);
    void setLabelText(const QString& text);
    void setButtonText(const QString& text);
    QString currentText() const;
    int getSelectedPosition() const { return m_selectedPosition; }

    QLabel* label;
    QComboBox* comboBox; // open to the caller (editable, insert policy)
    QPushButton* bttnRemove;
    QPushButton* bttnCancel;

public slots:
    void set_SelectedPosition(int position);

private:
    int m_selectedPosition = -1;
};
