#include "ZunActionPrompts.h"

#include "ZunFileDialog.h"

#include <QFileDialog>
#include <QMessageBox>

bool ZunActionPrompts::confirm(const QString& text)
{
    return QMessageBox::warning(m_parent, QStringLiteral("ZunControl"), text, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

QString ZunActionPrompts::folder(const QString& title, const QString& start)
{
    return ZunFileDialog::existingFolder(m_parent, title, start,
                                         QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog
                                             | QFileDialog::DontResolveSymlinks);
}
