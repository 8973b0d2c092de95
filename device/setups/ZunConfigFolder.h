#pragma once

#include <QMap>
#include <QPair>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class CZun;
class ZunOwnStores;

// What loading a configuration folder (FIR/limiter sets and setups, as "Save config to PC"
// writes it) would do, found by reading every file before anything is written: the files
// that can not be loaded (then nothing is), the ones that are left out and why, and what
// would be stored. A load writes either the whole folder or nothing.
class ZunConfigFolder
{
public:
    // Reads the folder for device (its firmware, flash directory and setup positions).
    ZunConfigFolder(CZun* device, const QString& folder);

    // The checks of each file, also for folders the program reads back (a garbage
    // collection's backup). Each returns why the file can not be stored on device, empty
    // when it can; *id is then the id the flash will list.
    // A FIR/limiter set file: readable, at a rate a clock of the processor runs.
    static QString setRefusal(CZun* device, const QString& path, quint32* id);
    // A setup file: a position the processor has, read as the setup manager reads it, its
    // words in their ranges, DSP programs and carried sets the processor can run; *odd
    // gets what is merely odd (see ZunSetup::oddities).
    static QString setupRefusal(CZun* device, const QString& path, int position, quint32* id, QStringList* odd);

    QString folder() const { return m_folder; }
    // "file: reason" for each file that can not be loaded.
    const QStringList& refused() const { return m_refused; }
    // "file: reason" for each file that is left out.
    const QStringList& skipped() const { return m_skipped; }
    int setCount() const { return m_sets; }
    int setupCount() const { return m_setups; }
    bool canLoad() const { return m_refused.isEmpty() && (m_sets > 0 || m_setups > 0); }

    // After a load (its last resend over): waits (at most timeoutMs, and only while the link
    // holds) for the flash directory read after the transfers, removes what the load's own
    // spoiled stores left there and stores again what they replaced (see ZunOwnStores), and
    // counts only what the directory then shows stored; the rest is named as not stored,
    // and each setup position the load stored to is named with what it holds.
    void confirm(CZun* device, int timeoutMs);
    // "file" for each file the processor did not store (after confirm).
    const QStringList& notStored() const { return m_notStored; }

    // "file: what" for each setup that is merely odd and is loaded as it is (see
    // ZunSetup::oddities).
    const QStringList& oddities() const { return m_odd; }
    // The operator's one warning about those; empty when there are none.
    QString warning() const;

    // The outcome for the operator: what was refused or skipped and what was loaded.
    QString report() const;

private:
    QString m_folder;
    QStringList m_refused;
    QStringList m_skipped;
    QStringList m_notStored;
    QStringList m_odd;
    int m_sets = 0;
    int m_setups = 0;
    // What a load writes: set id -> file; setup position -> file and the id its image gets.
    QMap<quint32, QString> m_setFiles;
    QMap<int, QPair<QString, quint32>> m_setupFiles;
    // What the flash held as the folder was read, to tell the load's own spoiled stores by.
    QSharedPointer<ZunOwnStores> m_own;
    QStringList m_tidied;    // what confirm removed or stored again
    QStringList m_leftAlone; // what it found written meanwhile and did not know as the load's
    QStringList m_positions; // "position: what it holds" of each setup position loaded
};
