#pragma once
// Answers the file dialog on screen with a path, as an operator does: typed into its name
// box when that has the focus (the program's one file dialog keeps it there when it is
// shown again, and then a name chosen in the list does not replace what is typed), else
// chosen in the dialog; then accepted. Header-only.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

inline void zunAnswerFileDialog(QFileDialog* dialog, const QString& path)
{
    auto* typed = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (typed && dialog->isAncestorOf(typed))
        typed->setText(path);
    else
        dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
}
