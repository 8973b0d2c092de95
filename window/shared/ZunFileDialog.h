#pragma once

#include <QFileDialog>
#include <QString>

class QWidget;

// The program's file and folder choices, all through one dialog kept from its first use
// until the application ends. A file dialog stores its own state (its size, the folders
// last visited) as it is destroyed, and that store writes the toolkit's settings file with
// a flush to the disk on the spot: a dialog made and destroyed for each choice held the
// GUI thread on the disk in the middle of the operator's action (most of a second on a
// busy disk). The kept one stores once, as the program ends, where it waits for its own
// settings anyway; meanwhile it remembers the folders of earlier choices itself.
class ZunFileDialog
{
public:
    // An existing file ("" when cancelled); filter as the dialog takes it ("Text (*.txt)"),
    // the filter chosen in selectedFilter when given.
    static QString openFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter,
                            QString* selectedFilter = nullptr, QFileDialog::Options options = QFileDialog::Options());
    // An existing folder ("" when cancelled).
    static QString existingFolder(QWidget* parent, const QString& title, const QString& start,
                                  QFileDialog::Options options = QFileDialog::ShowDirsOnly);
};
