#include "ZunGarbageCollection.h"

#include "ZunOperations.h"

#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "FilterLimiterEWS.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunSetup.h"
#include "ZunWaitingCall.h"

#include <QDateTime>
#include <QDir>
#include <QMap>

#include <utility>

namespace {
// The rate a set file is read at (its id does not depend on it), as the FIR manager reads it.
constexpr double FileSampleRate = 48000.0;
constexpr int WatchMs = 250;
constexpr int IdleTicks = 2; // transfers idle this long: the restore has ended

std::logic_error error(const QString& text) { return std::logic_error(text.toStdString()); }

// What a backup folder holds, by id: file name -> set id, file name -> (position, setup id).
struct Backup
{
    QMap<QString, quint32> sets;
    QMap<QString, QPair<int, quint32>> setups;
    QStringList unreadable; // "file: reason": its set or setup can not go back
};

Backup readBackup(CZun* zun, const QString& folder)
{
    Backup b;
    const QDir dir(folder);
    for (const QString& f : dir.entryList({QStringLiteral("*.fir")}, QDir::Files, QDir::Name)) {
        try {
            b.sets.insert(f, FilterLimiterEWS(dir.absoluteFilePath(f), FileSampleRate).getKey());
        } catch (const std::exception& e) {
            b.unreadable << QStringLiteral("%1: %2").arg(f, QString::fromStdString(e.what()));
        }
    }
    for (const QString& f : dir.entryList({QStringLiteral("Set*.zun")}, QDir::Files, QDir::Name)) {
        try {
            // The image as the upload sends it, and so the id the flash lists.
            ZunSetup setup(zun, dir.absoluteFilePath(f));
            setup.AdaptDSPProgIDs(zun->GetDSPType(), zun->GetFirmwareVersion());
            b.setups.insert(f, {ZunSetup::numberFromFileName(QFileInfo(f).completeBaseName()), setup.GetCRC()});
        } catch (const std::exception& e) {
            b.unreadable << QStringLiteral("%1: %2").arg(f, QString::fromStdString(e.what()));
        }
    }
    return b;
}
} // namespace

ZunGarbageCollection::ZunGarbageCollection(CZun* zun) : QObject(zun), m_zun(zun)
{
    m_watch.setInterval(WatchMs);
    connect(&m_watch, &QTimer::timeout, this, &ZunGarbageCollection::onWatch);
}

QString ZunGarbageCollection::folder() const
{
    const QString device = m_zun->GetLogFolder();
    return device.isEmpty() ? QString() : device + QStringLiteral("_gc");
}

bool ZunGarbageCollection::holdsBackup() const
{
    const QString path = folder();
    return m_step == Step::Erasing || (!path.isEmpty() && QDir(path).exists());
}

void ZunGarbageCollection::start()
{
    const QString path = folder();
    // Without a device folder the backup would land in the working folder.
    if (path.isEmpty()) {
        emit m_zun->signal_exception(tr("The garbage collection needs a configuration folder."),
                                     QStringLiteral("ZunControl"));
        return;
    }
    if (isRunning()) {
        emit m_zun->signal_exception(tr("A garbage collection is running already."), QStringLiteral("ZunControl"));
        return;
    }
    try {
        // A folder left by an earlier collection may be the only copy of what it backed
        // up: it is put back first.
        if (QDir(path).exists())
            throw error(tr("The backup of an earlier garbage collection in %1 is not all back on the processor. "
                           "Reconnect to put it back, or load that folder with \"Upload Config to Zun\".")
                            .arg(QDir::toNativeSeparators(path)));
        if (!QDir().mkpath(path))
            throw error(tr("Could not create the folder %1.").arg(path));
        m_zun->BackupToDir(path);
        // The erase destroys what the backup lacks: each set and setup of the directory
        // must be in the folder, as itself.
        const Backup b = readBackup(m_zun, path);
        const CMemoryManager* mem = m_zun->GetMemoryManager();
        const QList<quint32> sets = b.sets.values();
        QMap<int, quint32> setups;
        for (const auto& s : b.setups)
            setups.insert(s.first, s.second);
        bool whole = b.unreadable.isEmpty();
        for (int i = 0; whole && i < mem->filterListSize(); ++i)
            whole = mem->filterIdAt(i) == 0 || sets.contains(mem->filterIdAt(i));
        for (int p = 0; whole && p < mem->setupListSize(); ++p)
            whole = mem->setupIdAt(p) == 0 || setups.value(p) == mem->setupIdAt(p);
        if (!whole) {
            QDir(path).removeRecursively();
            throw error(tr("The backup in %1 did not hold every FIR/limiter set and setup of the processor. "
                           "Nothing was erased.")
                            .arg(QDir::toNativeSeparators(path)));
        }
    } catch (const std::exception& e) {
        emit m_zun->signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
        return;
    }
    m_step = Step::Erasing;
    m_restoredOnThisLink = false;
    m_refused.clear();
    // This collection's own message says what a lost link left undone.
    m_operation = m_zun->GetOperations()->begin(ZunLongOperation::GarbageCollection, ZunOperation::LossReport);
    emit signal_Started();
    emit m_zun->signal_StatusBarMessage(tr("Garbage collection: erasing the flash ..."), 0);
    m_zun->EraseFlashMemory();
}

void ZunGarbageCollection::onEraseSent()
{
    if (m_step != Step::Erasing)
        m_operatorErase = true;
}

void ZunGarbageCollection::onErased(bool ok)
{
    const QString path = folder();
    if (m_step != Step::Erasing) {
        // An erase of the operator's own: an old backup must not come back over it. The
        // folder stays on disk, no longer the record of a collection. (A processor reports
        // an erase again at the next connection: that one is no reason.)
        const bool operatorErase = std::exchange(m_operatorErase, false);
        if (ok && operatorErase && !path.isEmpty() && QDir(path).exists()) {
            const QString kept = path + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-hhmmss"));
            QDir().rename(path, kept);
            emit m_zun->signal_LogMessage(tr("The backup of an unfinished garbage collection is kept in %1; the flash "
                                             "was erased, it is not put back.\n")
                                              .arg(QDir::toNativeSeparators(kept)));
        }
        return;
    }
    m_step = ok ? Step::Erased : Step::Idle;
    if (!ok) {
        // Nothing was erased: the processor holds everything, the collection is over.
        removeBackup();
        finish(false, tr("The processor refused the erase of the garbage collection: nothing was erased, and it "
                         "holds every FIR/limiter set and setup as before."));
        return;
    }
    // The directory read after the erase starts the restore.
    emit m_zun->signal_StatusBarMessage(tr("Garbage collection: flash erased, putting the backup back ..."), 0);
}

void ZunGarbageCollection::onDirectory()
{
    // A directory read before the erase lists what the erase will remove; one read over an
    // earlier link, what the processor held then.
    if (m_step == Step::Erasing || !m_directoryRead)
        return;
    const QString path = folder();
    if (path.isEmpty() || !QDir(path).exists()) {
        if (m_step == Step::Restoring)
            finish(false, tr("The backup folder %1 of the garbage collection is gone; what the processor lacks "
                             "could not be put back.")
                              .arg(QDir::toNativeSeparators(path)));
        return;
    }
    int total = 0;
    const QStringList lacking = missing(&total);
    // A directory read before the erase may come after its answer: it lists everything.
    if (m_step == Step::Erased && lacking.isEmpty() && total > 0)
        return;
    if (lacking.isEmpty()) {
        const bool restoring = m_step != Step::Idle, restoredBefore = m_restoredOnThisLink;
        if (!removeBackup())
            return;
        if (restoring)
            finish(true, tr("The garbage collection is complete: every FIR/limiter set and setup is back on the "
                            "processor."));
        else if (!restoredBefore)
            finish(true, tr("An earlier garbage collection had not erased the processor: it holds every FIR/limiter "
                            "set and setup it held. That collection is over, its backup %1 was removed.")
                             .arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (m_step != Step::Restoring) {
        if (m_restoredOnThisLink)
            return; // its end was told; the next connection puts back again
        restore();
    }
    progress(total - lacking.size(), total);
    if (m_idleTicks >= IdleTicks && transfersIdle())
        finish(false, tr("The garbage collection could not put these back on the processor:\n%1\nThey are kept in "
                         "%2: they are put back at the next connection, or load that folder with \"Upload Config to "
                         "Zun\".")
                          .arg(lacking.join(QLatin1Char('\n')), QDir::toNativeSeparators(path)));
}

void ZunGarbageCollection::progress(int done, int total)
{
    emit signal_Progress(done, total);
    emit m_zun->signal_StatusBarMessage(tr("Garbage collection: %1 of %2 sets and setups back").arg(done).arg(total), 0);
}

void ZunGarbageCollection::onDisconnected()
{
    const QString path = QDir::toNativeSeparators(folder());
    if (m_step == Step::Erasing || m_step == Step::Erased) {
        finish(false, tr("The link to the processor was lost %1 the garbage collection's erase. At the next "
                         "connection whatever the erase removed is put back from %2.")
                          .arg(m_step == Step::Erasing ? tr("during") : tr("right after"), path));
    } else if (m_step == Step::Restoring) {
        int total = 0;
        const QStringList lacking = missing(&total);
        finish(false, tr("The link to the processor was lost while the garbage collection put its backup back. "
                         "Not back yet:\n%1\nThey are kept in %2 and put back at the next connection.")
                          .arg(lacking.join(QLatin1Char('\n')), path));
    }
    m_restoredOnThisLink = false;
    m_directoryRead = false;
}

QStringList ZunGarbageCollection::missing(int* total) const
{
    const Backup b = readBackup(m_zun, folder());
    const CMemoryManager* mem = m_zun->GetMemoryManager();
    QStringList lacking = b.unreadable;
    auto reason = [this](const QString& file) {
        for (const QString& r : m_refused)
            if (r.startsWith(file + QLatin1Char(':')))
                return r;
        return file;
    };
    for (auto s = b.sets.cbegin(); s != b.sets.cend(); ++s)
        if (!mem->hasFilterId(s.value()))
            lacking << reason(s.key());
    for (auto s = b.setups.cbegin(); s != b.setups.cend(); ++s)
        if (mem->setupIdAt(s.value().first) != s.value().second)
            lacking << reason(s.key());
    *total = b.sets.size() + b.setups.size() + b.unreadable.size();
    return lacking;
}

void ZunGarbageCollection::restore()
{
    // A restore the operator did not start just now (a connection found the backup) is
    // a collection of its own for the window.
    if (m_step == Step::Idle)
        emit signal_Started();
    m_step = Step::Restoring;
    m_restoredOnThisLink = true;
    m_idleTicks = 0;
    // A restore a connection started is an operation of its own; the collection's goes on.
    if (!m_operation || !m_operation->isRunning())
        m_operation = m_zun->GetOperations()->begin(ZunLongOperation::BackupRestore, ZunOperation::LossReport);
    // The backup holds the processor's own sets and setups: they all go back as they
    // were, without the all-or-nothing check of a folder brought from outside.
    const QString path = folder();
    QStringList sets, setups;
    QMetaObject::invokeMethod(m_zun->GetFIRLimManager(), "restoreDir", zunWaitingCall(m_zun->GetFIRLimManager()),
                              Q_RETURN_ARG(QStringList, sets), Q_ARG(QString, path));
    QMetaObject::invokeMethod(m_zun->GetSetupManager(), "restoreDir", zunWaitingCall(m_zun->GetSetupManager()),
                              Q_RETURN_ARG(QStringList, setups), Q_ARG(QString, path));
    m_refused = sets + setups;
    m_watch.start();
}

void ZunGarbageCollection::onWatch()
{
    if (!transfersIdle()) {
        m_idleTicks = 0;
        return;
    }
    // Idle long enough: the directory read now shows what the restore stored.
    if (++m_idleTicks == IdleTicks)
        m_zun->RefreshMemDir();
}

bool ZunGarbageCollection::transfersIdle() const
{
    return m_zun->GetFIRLimManager()->pendingUploads() == 0 && m_zun->GetSetupManager()->pendingUploads() == 0
        && m_zun->GetMemoryManager()->pendingTransfers() == 0 && m_zun->GetLink()->getCmdBuffer()->isIdle();
}

bool ZunGarbageCollection::removeBackup() const
{
    // Hidden files too: the folder is the record, it goes whole or not at all.
    return QDir(folder()).removeRecursively();
}

void ZunGarbageCollection::finish(bool ok, const QString& text)
{
    m_step = Step::Idle;
    m_watch.stop();
    m_idleTicks = 0;
    // What it took comes back here, on every end.
    if (const QSharedPointer<ZunOperation> operation = std::exchange(m_operation, {}))
        operation->finish(ok ? ZunOperation::Outcome::Done
                             : m_zun->IsConnected() ? ZunOperation::Outcome::Refused : ZunOperation::Outcome::LinkLost);
    emit m_zun->signal_StatusBarMessage(ok ? tr("Garbage collection complete") : tr("Garbage collection not complete"),
                                        5000);
    emit m_zun->signal_LogMessage(text + QLatin1Char('\n'), !ok);
    if (!ok)
        emit m_zun->signal_exception(text, tr("Garbage collection"));
    emit signal_Finished(ok, text);
}
