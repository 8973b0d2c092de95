#pragma once

#include "ZunOperation.h"
#include "ZunOperationJournal.h"

#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QStringList>

#include <functional>

// The long operations a processor runs now: the one list the quit question, the busy tabs
// and the loss reports read. Each operation is an object of its own (ZunOperation); what
// it took is held while it runs, and given back when the last holder ends.
//
// A lost link that an operation's own message tells stays taken after that operation has
// ended over a lost link, until the next connection: the link's message may be handled
// only after the operation has told its own.
//
// Owned by the device object; any thread (one lock for every list).
class ZunOperations : public QObject
{
    Q_OBJECT
public:
    // connected: whether the link is up now; keepAliveFree: called (in the thread of the
    // ending operation) when the last operation that held the keep-alive has ended.
    ZunOperations(std::function<bool()> connected, std::function<void()> keepAliveFree, QObject* parent = nullptr);
    ~ZunOperations() override;

    QSharedPointer<ZunOperation> begin(ZunLongOperation kind, int takes);
    // Begins it only while no listed operation runs: one processor runs one long operation
    // at a time. Null, with the running one's text in *busy, when one does.
    QSharedPointer<ZunOperation> beginAlone(ZunLongOperation kind, int takes, QString* busy);
    // Notes on the running operation of that kind what it works on or changed, for the
    // next connection to name when it does not end (a kill).
    void note(ZunLongOperation kind, const QString& key, const QVariant& value);
    // The operator stops what runs (closes its window anyway): each operation's entry stays
    // in the record for the next connection to name, unless it still ends done.
    void markStopped();
    // Until the next connection: the operator stopped what ran (the link ended for that).
    bool stoppedByOperator() const;
    // The record on disk of the operations running, and of those left unfinished.
    ZunOperationJournal* journal() { return &m_journal; }
    // The listed operations running now, each kind once, in the order they began.
    QList<ZunLongOperation> running() const;
    QStringList runningTexts() const;
    bool isRunning(ZunLongOperation kind) const;
    // Whether a lost link is told by an operation's own message (its box goes to the log).
    bool reportsLinkLoss() const;
    bool holdsKeepAlive() const;

    // A loss report taken by a caller without an operation object of its own (an address
    // change): taken, and ended like an operation's.
    void takeLossReport(bool on);
    void endLossReport();

    // The device object goes: nothing is given back to it any more (a quit ends each
    // operation; the processor takes its normal keep-alive at its next connection). Their
    // entries in the record stay only when the operator stopped them (markStopped).
    void close();

    void onConnected();
    // Ends, as cut by the link, the operations whose answers no longer come.
    void onDisconnected();

    static bool isRunning(const ZunOperation* operation);
    static void release(ZunOperation* operation, ZunOperation::Outcome outcome);

signals:
    // An operation began or ended (in the thread that began or ended it).
    void signal_Changed();

private:
    // listedIn: end the operation only while it is still listed there.
    static void end(ZunOperations* listedIn, ZunOperation* operation, ZunOperation::Outcome outcome);
    // Under the lock.
    QSharedPointer<ZunOperation> listed(ZunLongOperation kind, int takes);

    std::function<bool()> m_connected;
    std::function<void()> m_keepAliveFree;
    QList<ZunOperation*> m_running;
    bool m_lossTaken = false;   // takeLossReport
    bool m_lossLatched = false; // until the next connection
    bool m_stoppedByOperator = false; // until the next connection
    ZunOperationJournal m_journal;
};
