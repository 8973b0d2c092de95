#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

// Stores the operator's settings (the folders last used, a window's place) without the GUI
// thread waiting on the disk: every reader in the program sees the values at once, and the
// file is written, with its flush to the disk, by a thread of its own. What is stored is
// in the file before the application object is gone. Called from the GUI thread.
class ZunSettingsWriter
{
public:
    static void store(const QString& key, const QVariant& value) { store({{key, value}}); }
    static void store(const QList<QPair<QString, QVariant>>& values);
    // Returns once every value stored so far is in the file.
    static void waitForWritten();
};
