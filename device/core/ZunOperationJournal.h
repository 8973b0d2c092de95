#pragma once

#include "ZunLongOperation.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The record on disk of a processor's long operations while they run: what each is and
// what it works on. A program killed while one runs, or a control window closed (or the
// program quit) anyway while one runs, leaves its entry behind; the next start names the
// processors that have one, and the next connection names each operation and what it left.
//
// One file beside the device folder ("<device folder>_operations.json"), rewritten whole at
// each change (a cut write leaves the previous one). Several programs may share the
// configuration folder: each entry names the program that wrote it, and only the entries of
// a program that has ended are named and removed; each writer keeps the others' entries.
// Any thread: one lock.
class ZunOperationJournal
{
public:
    static constexpr const char* Suffix = "_operations.json";
    // No record is larger: a file that is, is no record.
    static constexpr qint64 MaxBytes = 1 << 20;

    struct Entry
    {
        int id = 0;
        ZunLongOperation kind = ZunLongOperation::FirUpload;
        QDateTime started;
        QVariantMap detail; // what the operation noted (a folder, a set's name, ...)
        bool stopped = false; // ended by a quit or a closed window, not by its own end
        bool closing = false; // the operator closed its window anyway: only its own success ends it
        int holders = 0;      // the objects of this program that run it (its window's and its device's)
        bool done = false;    // one of them ended by its success
        QJsonObject writer;   // the program that wrote it (empty: an earlier version)
    };

    ZunOperationJournal();
    ~ZunOperationJournal();
    ZunOperationJournal(const ZunOperationJournal&) = delete;
    ZunOperationJournal& operator=(const ZunOperationJournal&) = delete;

    // The file, at each connection; its entries of programs that have ended (also a
    // program that shared the folder and was killed since) are operations left unfinished,
    // as are this journal's own stopped ones over an earlier link. Empty: nothing is written.
    void setFile(const QString& path);

    // One entry per operation: a kind already running (begun by its window and by the
    // device) is the same operation, and its entry gets another holder.
    int add(ZunLongOperation kind);
    void note(int id, const QString& key, const QVariant& value);
    // A holder of the operation has ended (done: by its own success); the entry goes with its
    // last holder. One the operator stopped (markStopped) and never done stays, for the next
    // connection to name.
    void remove(int id, bool done);
    // The operator stopped it (closed its window anyway): whatever end follows but its
    // success leaves its entry, as stopped.
    void markStopped(int id);
    // What earlier operations left unfinished; taken once.
    QList<Entry> takeLeftOver();
    // What the operator is told once about the record itself: one that could not be read
    // (and where it is kept), removed or written. Taken once.
    QStringList takeNotices();

    // The processors with an entry of a program that has ended in the configuration folder,
    // each a line, and each record there that could not be read; empty: none.
    static QStringList unfinishedIn(const QString& configDir);
    // An operation left unfinished, as the operator is told about it.
    static QString describe(const Entry& entry);

private:
    // Under the lock: writes the record (*wrote: a file, not its removal); why it could not
    // be written, or empty.
    QString write(bool* wrote = nullptr);
    // Writes it; a failure is said once, until a write succeeds again.
    void save();
    // The entries of the record at path (empty when there is none or it was named already);
    // a record that can not be read is moved aside, and *notice says so.
    static QList<Entry> read(const QString& path, QString* notice, QByteArray* fingerprint = nullptr);

    mutable QMutex m_mutex;
    const int m_token; // this journal among the program's
    QString m_path;
    QList<Entry> m_running;
    QList<Entry> m_leftOver;
    QSet<QByteArray> m_adopted; // the writers whose entries are this journal's to name
    QByteArray m_readPrint;     // the record as setFile read it
    QStringList m_notices;
    int m_nextId = 1;
};
