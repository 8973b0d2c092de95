#pragma once

#include "ZunBackupRecord.h"

#include <QMap>
#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QTimer>

class CZun;
class ZunOperation;
class ZunOwnStores;

// The garbage collection as one transaction: every FIR/limiter set and setup of the
// processor is backed up to a folder beside the device folder with a record of what it
// holds, the flash is erased, and the backup is put back. The folder on disk is the record
// of a collection in progress, with one end: at a connection that finds it (after a lost
// link, a refused step, a program restart) whatever of it the processor lacks is tried
// once, each file checked as any configuration folder is and against the record; what
// the try could not put back is named with its reasons and the record closes (the folder
// is kept under another name, never put back again). It goes once each backed-up set and
// setup is on the processor again, told apart by its id, and with it only what the
// collection wrote. A collection whose erase never happened is over: its folder goes.
// Nothing is erased before the record reads back whole and names every set and setup the
// flash lists. A folder an earlier version left without a record is tried once as a
// configuration folder, then kept under another name.
//
// Lives in the GUI thread beside its device object, which forwards to it.
class ZunGarbageCollection : public QObject
{
    Q_OBJECT
public:
    explicit ZunGarbageCollection(CZun* zun);

    // The offer of a collection when the flash runs low, as the window asks it.
    static QString offerText();

    // The device folder with "_gc" appended (empty before the first connection).
    QString folder() const;
    // The processor may lack a backup of its sets: the erase is on its way, the folder is
    // there, or its record closed without all of it back. A pass-through set must not be
    // activated over it.
    bool holdsBackup() const;
    // The erase is on its way or the restore runs on this link.
    bool isRunning() const { return m_step != Step::Idle; }

    // Backs up, checks the backup and erases (a refusal is told, nothing is erased).
    void start();
    // An erase goes to the processor: one the collection did not send is the operator's
    // factory reset, which ends a pending collection (its folder is kept under another name).
    void onEraseSent();
    void onErased(bool ok);
    // A directory arrived from the processor / the managers have read it. Only one read
    // since the link came up tells what the processor holds.
    void onDirectoryRead() { m_directoryRead = true; }
    void onDirectory();
    void onDisconnected();

signals:
    // A collection's restore started, how far it is (sets and setups back of all backed
    // up), and its end: failures also go to the device's exception signal, once.
    void signal_Started();
    void signal_Progress(int done, int total);
    void signal_Finished(bool ok, QString text);

private:
    // Erased: the erase was done, the restore starts with the first directory that shows it.
    enum class Step { Idle, Erasing, Erased, Restoring };
    // What a backup folder holds for the restore (see the .cpp).
    struct Backup;
    static Backup readBackup(CZun* zun, const QString& folder);
    // The record's files whose set or setup the processor does not hold (as listed now);
    // total counts every file of the record.
    QStringList missing(const ZunBackupRecord& record, int* total) const;
    // Why file is not back: the checks' refusal, the managers', or the processor's.
    QString reason(const Backup& backup, const QString& file) const;
    void restore(const Backup& backup, const QStringList& lacking);
    void progress(int done, int total);
    // A folder without a record has been tried: what it holds is named, and it closes.
    void closeEarlier(const Backup& backup, const QMap<QString, QString>& reasons, int back);
    // A store the processor answered while the restore runs.
    void onStored(bool ok);
    // The end, told once: a failure in the device's box, a success by the window.
    // linkLost: ended by the loss of the link (another may be up already).
    void finish(bool ok, const QString& text, bool linkLost = false);
    // The record ends without everything back: the folder is kept under another name and
    // the text says where; ok when the processor holds everything all the same. Without
    // it, the text also names each running set the flash lacks, and how to store it.
    void close(const QString& text, const ZunBackupRecord& record, bool ok = false);
    // What the DSPs run that the flash lacks, each with the file of kept that holds it.
    QString unstoredRunning(const ZunBackupRecord& record, const QString& kept) const;
    // The folder renamed to an archive of its own; empty (and m_stuckFolder set) when it
    // can not be.
    QString archive();
    // Removes what the record says the collection wrote, and the folder (a link: the link)
    // once empty; empty, or what the operator must know of a folder that stays.
    QString removeBackup(const ZunBackupRecord& record);
    bool transfersIdle() const;
    void onWatch();

    CZun* m_zun;
    Step m_step = Step::Idle;
    bool m_restoredOnThisLink = false;
    bool m_operatorErase = false; // an erase of the operator's own is on its way
    bool m_directoryRead = false;  // since the link came up
    QStringList m_refused; // "file: reason" of what the managers could not read or send
    QStringList m_sent;    // the files this try handed to the managers
    QString m_stuckFolder; // a closed record that could not be renamed or removed
    bool m_closedWithLoss = false; // the processor lacks what the closed record held
    QTimer m_watch;        // while restoring: asks for a directory once transfers end
    int m_idleTicks = 0;
    int m_back = 0;  // what the restore has back, as the processor confirmed it
    int m_total = 0; // of what the record holds
    // The collection, or the restore a connection started, while it runs: it holds the
    // loss report and is listed; finish() gives it back.
    QSharedPointer<ZunOperation> m_operation;
    // What this collection backed up, as its record says (for its directories alone).
    ZunBackupRecord m_written;
    // What the flash held as the restore began, to tell its own spoiled stores by, and
    // what removing them (or storing again what they replaced) did.
    QSharedPointer<ZunOwnStores> m_own;
    QStringList m_tidied;
};
