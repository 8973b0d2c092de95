#include "SelectIntegerForm.h"

#include "ZunFormFit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

SelectIntegerForm::SelectIntegerForm(int minimum, int maximum, QWidget* parent)
    : QDialog(parent)
    , m_selectedPosition(minimum)
{
    setObjectName(QStringLiteral("SelectIntegerForm"));
    ZunFormFit::install(this);
    setWindowTitle(tr("Remove Form"));

    label = new QLabel(tr("Please enter the desired setup position and click 'Recall'"), this);
    label->setObjectName(QStringLiteral("label"));
    label->setWordWrap(true);
    spinBox = new QSpinBox(this);
    spinBox->setObjectName(QStringLiteral("spinBox"));
    spinBox->setRange(minimum, maximum);
    spinBox->setValue(minimum);
    bttnRecall = new QPushButton(tr("Recall"), this);
    bttnRecall->setObjectName(QStringLiteral("bttnRecall"));
    bttnCancel = new QPushButton(tr("Cancel"), this);
    bttnCancel->setObjectName(QStringLiteral("bttnCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(spinBox);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bttnRecall);
    buttons->addWidget(bttnCancel);
    layout->addLayout(buttons);

    connect(bttnRecall, &QPushButton::clicked, this, &QDialog::accept);
    connect(bttnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(spinBox, QOverload<int>::of(&QSpinBox::valueChanged), this, &SelectIntegerForm::set_SelectedPosition);
}

void SelectIntegerForm::set_SelectedPosition(int value)
{
    spinBox->setValue(value); // clamps to the range; re-enters here once with the clamped value
    m_selectedPosition = spinBox->value();
}
