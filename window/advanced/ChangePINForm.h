#pragma once

#include <QDialog>

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

// The modal form in which the operator enters the old and the new front-panel PIN: four
// digits 1-8 each, as typed on the device's buttons. It only collects and packs them (one
// digit per nibble, the first typed in bits 12-15); the caller sends them after exec()
// returned Accepted. Both stay 0 when the form is rejected.
class ChangePINForm : public QDialog
{
    Q_OBJECT
public:
    explicit ChangePINForm(QWidget* parent = nullptr);

    quint16 oldPin() const { return m_oldPin; }
    quint16 newPin() const { return m_newPin; }

    // The packed word of four digit characters.
    static quint16 packPin(const QString& digits);

public slots:
    void validatePINs();
    void onButtonChange();

private:
    QLineEdit* makeEdit();

    QGridLayout* m_layout;
    QLabel* m_explanation;
    QLabel* m_oldLabel;
    QLabel* m_newLabel;
    QLineEdit* m_oldEdit;
    QLineEdit* m_newEdit;
    QPushButton* m_changeButton;
    QPushButton* m_cancelButton;
    quint16 m_oldPin = 0;
    quint16 m_newPin = 0;
};
