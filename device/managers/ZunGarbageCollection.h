#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QTimer>

class CZun;
class ZunOperation;

// The garbage collection as one transaction: every FIR/limiter set and setup of the
// processor is backed up to a folder beside the device folder, the flash is erased, and
// the backup is put back. The folder on disk is the record of a collection in progress:
// at each directory read while it is there (after a lost link, a refused step, a program
// restart) whatever of it the processor lacks is put back, and it goes only once each
// backed-up set and setup is on the processor again, told apart by its id. A collection
// whose erase never happened is over: its folder goes.
//
// Lives in the GUI thread beside its device object, which forwards to it.
class ZunGarbageCollection : public QObject
{
    Q_OBJECT
public:
    explicit ZunGarbageCollection(CZun* zun);

    // The device folder with "_gc" appended (empty before the first connection).
    QString folder() const;
    // The processor may lack a backup of its sets: the erase is on its way or the folder
    // is there. A pass-through set must not be activated over it.
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
    // The backed-up files whose set or setup the processor does not hold (as listed
    // now), with the reason when the restore knows one; total counts every backed-up file.
    QStringList missing(int* total) const;
    void restore();
    void progress(int done, int total);
    void finish(bool ok, const QString& text);
    bool removeBackup() const;
    bool transfersIdle() const;
    void onWatch();

    CZun* m_zun;
    Step m_step = Step::Idle;
    bool m_restoredOnThisLink = false;
    bool m_operatorErase = false; // an erase of the operator's own is on its way
    bool m_directoryRead = false;  // since the link came up
    QStringList m_refused; // "file: reason" of what the restore could not read or send
    QTimer m_watch;        // while restoring: asks for a directory once transfers end
    int m_idleTicks = 0;
    // The collection, or the restore a connection started, while it runs: it holds the
    // loss report and is listed; finish() gives it back.
    QSharedPointer<ZunOperation> m_operation;
};
