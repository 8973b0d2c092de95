#include "ZunFirSetupActions.h"

#include "RemoveForm.h"
#include "UploadForm.h"
#include "ZunFileDialog.h"

#include <QComboBox>
#include <QFileDialog>

// The operator's side of the FIR and setup actions: the program's own dialogs.

QString ZunFirSetupActions::Prompts::openFile(const QString& title, const QString& folder, const QString& filter)
{
    return ZunFileDialog::openFile(m_parent, title, folder, filter, nullptr, QFileDialog::DontUseNativeDialog);
}

bool ZunFirSetupActions::Prompts::chooseRow(const Choice& choice, QAbstractItemModel* list, int* row, QString* name)
{
    RemoveForm form(m_parent);
    form.setWindowTitle(choice.title);
    if (choice.editable) {
        form.comboBox->setEditable(true);
        form.comboBox->setInsertPolicy(QComboBox::InsertAtCurrent);
    }
    form.setModel(list);
    if (choice.start)
        form.set_SelectedPosition(*choice.start);
    if (!choice.button.isEmpty())
        form.setButtonText(choice.button);
    if (!choice.label.isEmpty())
        form.setLabelText(choice.label);
    if (form.exec() != QDialog::Accepted)
        return false;
    *row = form.getSelectedPosition();
    if (name)
        *name = form.currentText();
    return true;
}

bool ZunFirSetupActions::Prompts::setupFile(const QString& start, QAbstractItemModel* positions, QString* file,
                                            int* position)
{
    UploadForm form(QObject::tr("Zun Setup (*.zun)"), QStringList{QStringLiteral("zun")}, start);
    form.setWindowTitle(QObject::tr("Upload Setup"));
    form.setModel(positions);
    if (form.exec() != QDialog::Accepted)
        return false;
    *file = form.getFilename();
    *position = form.getSelectedPosition();
    return true;
}

void ZunFirSetupActions::Prompts::message(QMessageBox::Icon icon, const QString& text, bool overTab)
{
    QMessageBox box(icon, QStringLiteral("ZunControl"), text, QMessageBox::Ok, overTab ? m_parent : nullptr);
    box.exec();
}
