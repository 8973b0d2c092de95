#pragma once

#include <QDialog>

class QAbstractItemModel;
class QComboBox;
class QFontMetrics;
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
    // The width at which a window manager's title bar shows the whole title (its font is
    // usually bold and a little larger; an icon and three buttons beside it).
    static int widthForTitle(const QFontMetrics& metrics, const QString& title);

    QLabel* label;
    QComboBox* comboBox; // open to the caller (editable, insert policy)
    QPushButton* bttnRemove;
    QPushButton* bttnCancel;

public slots:
    void set_SelectedPosition(int position);

protected:
    // A title wider than the form was elided ("Remov... R Filter").
    void changeEvent(QEvent* event) override;

private:
    int m_selectedPosition = -1;
};
