#include "ZunMaintenanceActions.h"

#include "CZunConfigWizard.h"
#include "ChangePINForm.h"
#include "UploadForm.h"
#include "ZunFormFit.h"

#include <QInputDialog>
#include <QStyle>
#include <QLineEdit>
#include <QPushButton>

// The operator's side of the maintenance actions: the program's own dialogs.

namespace
{
// A line of text in a dialog that opens with its title whole (at its own first width the
// window manager cut it); maxLength < 0: no limit.
bool askText(QWidget* parent, const QString& title, const QString& label, const QString& initial, int maxLength,
             QString* answer)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(maxLength < 0 ? initial : initial.left(maxLength));
    if (auto* edit = dialog.findChild<QLineEdit*>()) {
        if (maxLength >= 0)
            edit->setMaxLength(maxLength);
        // The dialog keeps to its layout's size: the field makes the room for the title.
        const int margins = dialog.style()->pixelMetric(QStyle::PM_LayoutLeftMargin)
                            + dialog.style()->pixelMetric(QStyle::PM_LayoutRightMargin);
        edit->setMinimumWidth(ZunFormFit::widthForTitle(dialog.fontMetrics(), title) - margins);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *answer = maxLength < 0 ? dialog.textValue() : dialog.textValue().left(maxLength);
    return true;
}
} // namespace

bool ZunMaintenanceActions::Prompts::text(const QString& title, const QString& label, const QString& initial,
                                          QString* answer)
{
    return askText(m_parent, title, label, initial, -1, answer);
}

bool ZunMaintenanceActions::Prompts::textUpTo(const QString& title, const QString& label, const QString& initial,
                                              int maxLength, QString* answer)
{
    return askText(m_parent, title, label, initial, maxLength, answer);
}

QString ZunMaintenanceActions::Prompts::firmwareFile(const QString& start)
{
    UploadForm form(QObject::tr("Zun Firmware (*.fwu)"), {QStringLiteral("fwu")}, start);
    form.setWindowTitle(QObject::tr("Update Firmware"));
    form.hidePositionSelector();
    form.setLabelText(QObject::tr("Enter filename of firmware or select file with 'Browse', upload and follow log "
                                  "messages."));
    return form.exec() == QDialog::Accepted ? form.getFilename() : QString();
}

bool ZunMaintenanceActions::Prompts::pin(quint16* oldPin, quint16* newPin)
{
    ChangePINForm form;
    if (form.exec() != QDialog::Accepted)
        return false;
    *oldPin = form.oldPin();
    *newPin = form.newPin();
    return true;
}

void ZunMaintenanceActions::Prompts::message(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, QStringLiteral("ZunControl"), text, QMessageBox::Ok);
    box.exec();
}

bool ZunMaintenanceActions::Prompts::ask(const QString& text)
{
    return QMessageBox::information(nullptr, QStringLiteral("ZunControl"), text, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

bool ZunMaintenanceActions::Prompts::garbageCollectionNow(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ZunControl"), text);
    QPushButton* now = box.addButton(QObject::tr("Garbage collection now"), QMessageBox::ActionRole);
    box.addButton(QObject::tr("Later"), QMessageBox::ActionRole);
    box.exec();
    return box.clickedButton() == now;
}

bool ZunMaintenanceActions::Prompts::runWizard(CZunConfigWizard& wizard) { return wizard.exec() == QDialog::Accepted; }
