#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QSpinBox;

// Chooses a number in a range (a setup position).
class SelectIntegerForm : public QDialog
{
    Q_OBJECT
public:
    SelectIntegerForm(int minimum, int maximum, QWidget* parent = nullptr);

    int getSelectedPosition() const { return m_selectedPosition; }

    QLabel* label;
    QSpinBox* spinBox;
    QPushButton* bttnRecall;
    QPushButton* bttnCancel;

public slots:
    void set_SelectedPosition(int value);

private:
    int m_selectedPosition;
};
