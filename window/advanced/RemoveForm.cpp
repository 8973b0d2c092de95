#include "RemoveForm.h"

#include "CZunSetupManager.h"
#include "ZunFormFit.h"
#include "ZunPositionDelegate.h"
#include "ZunStyle.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

RemoveForm::RemoveForm(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("RemoveForm"));
    ZunFormFit::install(this);
    setWindowTitle(tr("Remove Form"));

    label = new QLabel(tr("Please select an item in the drop down list and click 'Remove'"), this);
    label->setObjectName(QStringLiteral("label"));
    label->setWordWrap(true);
    comboBox = new QComboBox(this);
    comboBox->setObjectName(QStringLiteral("comboBox"));
    comboBox->setMinimumSize(100, 20);
    ZunStyle::applyTo(comboBox, QStringLiteral("Plastique"));
    comboBox->setItemDelegate(new ZunPositionDelegate(comboBox));
    bttnRemove = new QPushButton(tr("Remove"), this);
    bttnRemove->setObjectName(QStringLiteral("bttnRemove"));
    bttnRemove->setEnabled(false);
    bttnCancel = new QPushButton(tr("Cancel"), this);
    bttnCancel->setObjectName(QStringLiteral("bttnCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(comboBox);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bttnRemove);
    buttons->addWidget(bttnCancel);
    layout->addLayout(buttons);

    connect(bttnRemove, &QPushButton::clicked, this, &QDialog::accept);
    connect(bttnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &RemoveForm::set_SelectedPosition);
}

void RemoveForm::setModel(QAbstractItemModel* model)
{
    comboBox->setModel(model);
    // The new model's current entry (if any) is the selection.
    set_SelectedPosition(comboBox->currentIndex());
}

void RemoveForm::setLabelText(const QString& text)
{
    label->setText(text);
}

void RemoveForm::setButtonText(const QString& text)
{
    bttnRemove->setText(text);
}

QString RemoveForm::currentText() const
{
    return comboBox->currentText();
}

void RemoveForm::set_SelectedPosition(int position)
{
    m_selectedPosition = position;
    if (position >= 0 && position < comboBox->count()) {
        if (comboBox->currentIndex() != position)
            comboBox->setCurrentIndex(position);
        bttnRemove->setEnabled(true);
    } else {
        bttnRemove->setEnabled(false);
    }
    if (comboBox->isEditable() && comboBox->lineEdit()) {
        QLineEdit* edit = comboBox->lineEdit();
        // An empty position's placeholder is no name: a click into the field and a typed
        // name would be appended to its padding. Its field starts empty, the placeholder
        // shown greyed.
        const QString empty = QString::fromLatin1(CZunSetupManager::EmptyRowText).trimmed();
        edit->setPlaceholderText(empty);
        if (edit->text().trimmed() == empty)
            edit->clear();
        edit->setCursorPosition(0);
        edit->selectAll();
    }
}
