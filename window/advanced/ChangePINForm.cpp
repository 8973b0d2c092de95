#include "ChangePINForm.h"

#include "ZunFormFit.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegExpValidator>

ChangePINForm::ChangePINForm(QWidget* parent) : QDialog(parent)
{
    ZunFormFit::install(this);
    m_layout = new QGridLayout();
    m_explanation = new QLabel(tr("To change the keylock PIN, enter old and new pin and click Change button.\nNote: only "
                                  "numbers between 1 and 8 are allowed!"));
    m_explanation->setWordWrap(true);
    m_layout->addWidget(m_explanation, 0, 0, 1, 3);
    m_oldLabel = new QLabel(tr("Old PIN"));
    m_newLabel = new QLabel(tr("New PIN"));
    m_layout->addWidget(m_oldLabel, 1, 0);
    m_layout->addWidget(m_newLabel, 1, 1);
    m_oldEdit = makeEdit();
    m_newEdit = makeEdit();
    m_layout->addWidget(m_oldEdit, 2, 0);
    m_layout->addWidget(m_newEdit, 2, 1);
    m_changeButton = new QPushButton(tr("Change PIN"));
    m_changeButton->setEnabled(false);
    m_layout->addWidget(m_changeButton, 2, 2);
    // A way out that is not the frame's close button, which some window managers hide.
    m_cancelButton = new QPushButton(tr("Cancel"));
    m_layout->addWidget(m_cancelButton, 3, 2);
    setLayout(m_layout);
    // Typing only: a PIN set by the program does not count as entered.
    connect(m_oldEdit, &QLineEdit::textEdited, this, &ChangePINForm::validatePINs);
    connect(m_newEdit, &QLineEdit::textEdited, this, &ChangePINForm::validatePINs);
    connect(m_changeButton, &QPushButton::clicked, this, &ChangePINForm::onButtonChange);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setWindowTitle(tr("Change PIN"));
}

QLineEdit* ChangePINForm::makeEdit()
{
    auto* edit = new QLineEdit();
    edit->setMaxLength(4);
    edit->setEchoMode(QLineEdit::Password);
    edit->setCursorPosition(0);
    // The device's buttons are numbered 1 to 8.
    edit->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[1-8]{4}"), Qt::CaseSensitive, QRegExp::RegExp), edit));
    // No input mask: a mask keeps four blank places that echo as four bullets, so the
    // operator could not see how many digits are typed.
    return edit;
}

void ChangePINForm::validatePINs()
{
    m_changeButton->setEnabled(m_oldEdit->hasAcceptableInput() && m_newEdit->hasAcceptableInput());
}

quint16 ChangePINForm::packPin(const QString& digits)
{
    quint16 packed = 0;
    for (int i = 0; i < 4 && i < digits.size(); ++i)
        packed |= quint16(digits.at(i).digitValue() << (12 - 4 * i));
    return packed;
}

void ChangePINForm::onButtonChange()
{
    m_oldPin = 0;
    m_newPin = 0;
    m_oldPin = packPin(m_oldEdit->text());
    m_newPin = packPin(m_newEdit->text());
    accept();
}
