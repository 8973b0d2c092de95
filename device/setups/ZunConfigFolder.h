#pragma once

#include <QString>
#include <QStringList>

class CZun;

// What loading a configuration folder (FIR/limiter sets and setups, as "Save config to PC"
// writes it) would do, found by reading every file before anything is written: the files
// that can not be loaded (then nothing is), the ones that are left out and why, and what
// would be stored. A load writes either the whole folder or nothing.
class ZunConfigFolder
{
public:
    // Reads the folder for device (its firmware, flash directory and setup positions).
    ZunConfigFolder(CZun* device, const QString& folder);

    QString folder() const { return m_folder; }
    // "file: reason" for each file that can not be loaded.
    const QStringList& refused() const { return m_refused; }
    // "file: reason" for each file that is left out.
    const QStringList& skipped() const { return m_skipped; }
    int setCount() const { return m_sets; }
    int setupCount() const { return m_setups; }
    bool canLoad() const { return m_refused.isEmpty() && (m_sets > 0 || m_setups > 0); }

    // The outcome for the operator: what was refused or skipped and what was loaded.
    QString report() const;

private:
    QString m_folder;
    QStringList m_refused;
    QStringList m_skipped;
    int m_sets = 0;
    int m_setups = 0;
};
