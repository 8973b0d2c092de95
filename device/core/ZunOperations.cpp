#include "ZunOperations.h"

#include <QMutex>

namespace {
// One lock for every registry and its operations: an operation may end in any thread, also
// after its registry.
QMutex& lock()
{
    static QMutex mutex;
    return mutex;
}
} // namespace

ZunOperations::ZunOperations(std::function<bool()> connected, std::function<void()> keepAliveFree, QObject* parent)
    : QObject(parent), m_connected(std::move(connected)), m_keepAliveFree(std::move(keepAliveFree))
{
}

ZunOperations::~ZunOperations() { close(); }

void ZunOperations::close()
{
    QList<int> ids;
    {
        QMutexLocker locker(&lock());
        for (ZunOperation* operation : qAsConst(m_running)) {
            operation->m_registry = nullptr;
            if (operation->m_journalId)
                ids << operation->m_journalId;
        }
        m_running.clear();
        m_keepAliveFree = nullptr;
    }
    // Only what the operator chose to stop (a quit anyway) stays on record; a kill runs
    // none of this, and its entries stay too.
    for (int id : qAsConst(ids))
        m_journal.remove(id, false);
}

namespace {
// A collection and its restore are recorded by their backup folder.
bool journaled(ZunLongOperation kind, int takes)
{
    return !(takes & ZunOperation::Unlisted) && kind != ZunLongOperation::GarbageCollection
        && kind != ZunLongOperation::BackupRestore;
}
} // namespace

QSharedPointer<ZunOperation> ZunOperations::listed(ZunLongOperation kind, int takes)
{
    QSharedPointer<ZunOperation> operation(new ZunOperation(this, kind, takes));
    if (journaled(kind, takes))
        operation->m_journalId = m_journal.add(kind);
    m_running << operation.data();
    return operation;
}

QSharedPointer<ZunOperation> ZunOperations::begin(ZunLongOperation kind, int takes)
{
    QSharedPointer<ZunOperation> operation;
    {
        QMutexLocker locker(&lock());
        operation = listed(kind, takes);
    }
    emit signal_Changed();
    return operation;
}

QSharedPointer<ZunOperation> ZunOperations::beginAlone(ZunLongOperation kind, int takes, QString* busy)
{
    QSharedPointer<ZunOperation> operation;
    {
        QMutexLocker locker(&lock());
        for (const ZunOperation* other : qAsConst(m_running))
            if (!(other->takes() & ZunOperation::Unlisted)) {
                if (busy)
                    *busy = zunLongOperationText(other->kind());
                return {};
            }
        operation = listed(kind, takes);
    }
    emit signal_Changed();
    return operation;
}

void ZunOperations::note(ZunLongOperation kind, const QString& key, const QVariant& value)
{
    int id = 0;
    {
        QMutexLocker locker(&lock());
        for (const ZunOperation* operation : qAsConst(m_running))
            if (operation->kind() == kind && operation->m_journalId)
                id = operation->m_journalId;
    }
    if (id)
        m_journal.note(id, key, value);
}

bool ZunOperations::stoppedByOperator() const
{
    QMutexLocker locker(&lock());
    return m_stoppedByOperator;
}

void ZunOperations::markStopped()
{
    QList<int> ids;
    {
        QMutexLocker locker(&lock());
        m_stoppedByOperator = !m_running.isEmpty();
        for (const ZunOperation* operation : qAsConst(m_running))
            if (operation->m_journalId)
                ids << operation->m_journalId;
    }
    for (int id : qAsConst(ids))
        m_journal.markStopped(id);
}

QList<ZunLongOperation> ZunOperations::running() const
{
    QMutexLocker locker(&lock());
    QList<ZunLongOperation> kinds;
    for (const ZunOperation* operation : m_running)
        if (!(operation->takes() & ZunOperation::Unlisted) && !kinds.contains(operation->kind()))
            kinds << operation->kind();
    return kinds;
}

QStringList ZunOperations::runningTexts() const
{
    QStringList texts;
    for (ZunLongOperation kind : running())
        texts << zunLongOperationText(kind);
    return texts;
}

bool ZunOperations::isRunning(ZunLongOperation kind) const { return running().contains(kind); }

bool ZunOperations::reportsLinkLoss() const
{
    QMutexLocker locker(&lock());
    if (m_lossTaken || m_lossLatched)
        return true;
    for (const ZunOperation* operation : m_running)
        if (operation->takes() & ZunOperation::LossReport)
            return true;
    return false;
}

bool ZunOperations::holdsKeepAlive() const
{
    QMutexLocker locker(&lock());
    for (const ZunOperation* operation : m_running)
        if (operation->takes() & ZunOperation::KeepAlive)
            return true;
    return false;
}

void ZunOperations::takeLossReport(bool on)
{
    QMutexLocker locker(&lock());
    m_lossTaken = on;
}

void ZunOperations::endLossReport()
{
    const bool connected = m_connected();
    QMutexLocker locker(&lock());
    if (!m_lossTaken)
        return;
    m_lossTaken = false;
    m_lossLatched = m_lossLatched || !connected;
}

void ZunOperations::onConnected()
{
    QMutexLocker locker(&lock());
    m_lossTaken = false;
    m_lossLatched = false;
    m_stoppedByOperator = false;
}

void ZunOperations::onDisconnected()
{
    QList<ZunOperation*> cut;
    {
        QMutexLocker locker(&lock());
        for (ZunOperation* operation : qAsConst(m_running))
            if (operation->takes() & ZunOperation::EndsWithLink)
                cut << operation;
    }
    // Each ends once: one that ended (and may be gone) meanwhile is no longer listed, and is
    // not touched.
    for (ZunOperation* operation : qAsConst(cut))
        end(this, operation, ZunOperation::Outcome::LinkLost);
}

bool ZunOperations::isRunning(const ZunOperation* operation)
{
    QMutexLocker locker(&lock());
    return operation->m_registry != nullptr;
}

void ZunOperations::release(ZunOperation* operation, ZunOperation::Outcome outcome)
{
    end(nullptr, operation, outcome);
}

void ZunOperations::end(ZunOperations* listedIn, ZunOperation* operation, ZunOperation::Outcome outcome)
{
    ZunOperations* registry = nullptr;
    int takes = 0;
    int journalId = 0;
    bool keepAliveFree = false;
    std::function<void()> giveKeepAlive;
    {
        QMutexLocker locker(&lock());
        // Ended by its registry (a lost link), the operation may have ended and gone in its
        // owner's thread: only one still listed is touched.
        if (listedIn && !listedIn->m_running.contains(operation))
            return;
        registry = operation->m_registry;
        if (!registry || !registry->m_running.removeOne(operation))
            return;
        operation->m_registry = nullptr;
        // Read while listed: once it is not, its owner may free it.
        takes = operation->takes();
        journalId = operation->m_journalId;
        if (takes & ZunOperation::KeepAlive) {
            keepAliveFree = true;
            for (const ZunOperation* other : qAsConst(registry->m_running))
                keepAliveFree = keepAliveFree && !(other->takes() & ZunOperation::KeepAlive);
        }
        if (keepAliveFree)
            giveKeepAlive = registry->m_keepAliveFree;
    }
    // Cut by a lost link: the link's own message for that loss may still come.
    if ((takes & ZunOperation::LossReport) && outcome == ZunOperation::Outcome::LinkLost) {
        const bool connected = registry->m_connected();
        QMutexLocker locker(&lock());
        registry->m_lossLatched = registry->m_lossLatched || !connected;
    }
    // Stopped by the operator before its end (a window closed anyway) it stays in the
    // record, for the next connection to name.
    if (journalId)
        registry->m_journal.remove(journalId, outcome == ZunOperation::Outcome::Done);
    if (giveKeepAlive)
        giveKeepAlive();
    emit registry->signal_Changed();
}
