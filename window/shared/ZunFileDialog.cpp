#include "ZunFileDialog.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>

namespace
{
QPointer<QFileDialog> g_dialog;

// Called as the application object goes, before its widgets are torn down.
void endDialog() { delete g_dialog.data(); }

QString choose(QWidget* parent, const QString& title, const QString& folder, QFileDialog::FileMode mode,
               const QString& filter, QString* selectedFilter, QFileDialog::Options options)
{
    if (!g_dialog) {
        static const bool ended = (qAddPostRoutine(endDialog), true);
        Q_UNUSED(ended)
        g_dialog = new QFileDialog;
    }
    QPointer<QFileDialog> dialog = g_dialog;
    // Over its window and modal to it, as a dialog of its own would be.
    dialog->setParent(parent, dialog->windowFlags());
    dialog->setWindowTitle(title);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setOptions(options);
    dialog->setFileMode(mode);
    dialog->setNameFilter(filter);
    dialog->setDirectory(folder);
    // As a new dialog opens: no name kept from the last choice.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->clear();
    QString chosen;
    if (dialog->exec() == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty()) {
        chosen = dialog->selectedFiles().constFirst();
        if (selectedFilter)
            *selectedFilter = dialog->selectedNameFilter();
    }
    // Gone with a window closed meanwhile: the next choice makes a new one.
    if (dialog)
        dialog->setParent(nullptr, dialog->windowFlags());
    return chosen;
}
} // namespace

QString ZunFileDialog::openFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter,
                                QString* selectedFilter, QFileDialog::Options options)
{
    return choose(parent, title, folder, QFileDialog::ExistingFile, filter, selectedFilter, options);
}

QString ZunFileDialog::existingFolder(QWidget* parent, const QString& title, const QString& start,
                                      QFileDialog::Options options)
{
    return choose(parent, title, start, QFileDialog::Directory, QString(), nullptr, options | QFileDialog::ShowDirsOnly);
}
