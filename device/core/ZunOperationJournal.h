#pragma once

#include "ZunLongOperation.h"

#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>
#include <QVariantMap>

// The record on disk of a processor's long operations while they run: what each is and
// what it works on. A program killed while one runs, or a control window closed (or the
// program quit) anyway while one runs, leaves its entry behind; the next start names the
// processors that have one, and the next connection names each operation and what it left.
//
// One file beside the device folder ("<device folder>_operations.json"), rewritten whole at
// each change (a cut write leaves the previous one). Any thread: one lock.
class ZunOperationJournal
{
public:
    static constexpr const char* Suffix = "_operations.json";

    struct Entry
    {
        int id = 0;
        ZunLongOperation kind = ZunLongOperation::FirUpload;
        QDateTime started;
        QVariantMap detail; // what the operation noted (a folder, a set's name, ...)
        bool stopped = false; // ended by a quit or a closed window, not by its own end
        bool closing = false; // the operator closed its window anyway: only its own success ends it
    };

    // The file; its entries are operations an earlier program (or this one, over an
    // earlier link) left unfinished. Empty: nothing is written.
    void setFile(const QString& path);

    int add(ZunLongOperation kind);
    void note(int id, const QString& key, const QVariant& value);
    // The operation has ended (done: by its own success). One the operator stopped
    // (markStopped) and not done stays, for the next connection to name.
    void remove(int id, bool done);
    // The operator stopped it (closed its window anyway): whatever end follows but its
    // success leaves its entry, as stopped.
    void markStopped(int id);
    // What earlier operations left unfinished; taken once.
    QList<Entry> takeLeftOver();

    // The processors with an entry in the configuration folder, each a line; empty: none.
    static QStringList unfinishedIn(const QString& configDir);
    // An operation left unfinished, as the operator is told about it.
    static QString describe(const Entry& entry);

private:
    void write(); // under the lock
    static QList<Entry> read(const QString& path);

    mutable QMutex m_mutex;
    QString m_path;
    QList<Entry> m_running;
    QList<Entry> m_leftOver;
    int m_nextId = 1;
};
