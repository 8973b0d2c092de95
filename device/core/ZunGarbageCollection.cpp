#include "ZunGarbageCollection.h"

#include "ZunOperations.h"

#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "FilterLimiterEWS.h"
#include "ZunBackupRecord.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunConfigFolder.h"
#include "ZunOwnStores.h"
#include "ZunSetup.h"
#include "ZunWaitingCall.h"

#include <QDateTime>
#include <QDir>
#include <QMap>
#include <QStorageInfo>

#include <algorithm>
#include <utility>

namespace {
constexpr int WatchMs = 250;
constexpr int IdleTicks = 2; // transfers idle this long: the restore has ended

std::logic_error error(const QString& text) { return std::logic_error(text.toStdString()); }

// What the disk that holds the folder (or the nearest folder above it that exists) has free.
QString freeOnDisk(const QString& folder)
{
    QDir dir(folder);
    while (!dir.exists() && dir.cdUp()) {
    }
    const QStorageInfo disk(dir.absolutePath());
    return disk.isValid() ? QStringLiteral("%1 kB").arg(disk.bytesAvailable() / 1024) : QStringLiteral("an unknown space");
}

QString lines(const QMap<QString, QString>& reasons)
{
    QStringList out;
    for (auto r = reasons.cbegin(); r != reasons.cend(); ++r)
        out << QStringLiteral("%1: %2").arg(r.key(), r.value());
    return out.join(QLatin1Char('\n'));
}
// A setup stored under older firmware is listed by the id of its old image, and backed up
// converted, as the restore stores it: the id of that conversion when the setup manager holds
// the setup read from the listed image (0 otherwise).
quint32 convertedId(CZun* zun, int position)
{
    ZunSetup* held = zun->GetSetupManager()->GetSetup(position);
    if (!held || held->storedId() != zun->GetMemoryManager()->setupIdAt(position))
        return 0;
    ZunSetup converted(held->toByteArray());
    converted.AdaptDSPProgIDs(zun->GetDSPType(), zun->GetFirmwareVersion());
    return converted.GetCRC();
}
} // namespace

// What a backup folder holds for the restore: its record, and for each file that can not
// go back from it, why. Each file gets the checks of a configuration folder, and must be
// in the record as the record names it. A folder written by an earlier version holds no
// record: each of its files that passes the checks is tried as if a record named it.
struct ZunGarbageCollection::Backup
{
    ZunBackupRecord record;
    QString whole;                  // why nothing of the folder may go back; empty when it may
    QMap<QString, QString> refused; // file -> reason
    bool earlier = false;           // written without a record
};

ZunGarbageCollection::Backup ZunGarbageCollection::readBackup(CZun* zun, const QString& folder)
{
    Backup b;
    const QDir dir(folder);
    if (!ZunBackupRecord::isIn(folder)) {
        b.earlier = true;
        b.record = ZunBackupRecord::ofFolder(zun, folder, &b.refused);
        for (const QString& f : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
            if (!b.record.entry(f) && !b.refused.contains(f))
                b.refused.insert(f, QStringLiteral("neither a FIR/limiter set (.fir) nor a setup (SetNN_name.zun)"));
        return b;
    }
    b.record = ZunBackupRecord::read(folder);
    b.whole = b.record.refusal(zun->GetNr());
    if (!b.whole.isEmpty())
        return b;
    for (const QString& f : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        if (f != QLatin1String(ZunBackupRecord::FileName) && !b.record.entry(f))
            b.refused.insert(f, QStringLiteral("not part of the backup (the garbage collection did not write it)"));
    for (const ZunBackupRecord::Entry& e : b.record.entries()) {
        const QString path = dir.filePath(e.file);
        const bool setup = e.position >= 0;
        quint32 id = 0;
        QStringList odd;
        QString why;
        if (!QFileInfo(path).isFile())
            why = QStringLiteral("the file is missing from the folder");
        else if (setup ? !QDir::match(QStringLiteral("Set*.zun"), e.file)
                             || ZunSetup::numberFromFileName(QFileInfo(e.file).completeBaseName()) != e.position
                       : !QDir::match(QStringLiteral("*.fir"), e.file))
            why = QStringLiteral("its name does not match the backup's record");
        else
            why = setup ? ZunConfigFolder::setupRefusal(zun, path, e.position, &id, &odd)
                        : ZunConfigFolder::setRefusal(zun, path, &id);
        if (why.isEmpty() && id != e.id)
            why = QStringLiteral("changed since the backup was taken");
        if (!why.isEmpty())
            b.refused.insert(e.file, why);
    }
    return b;
}

ZunGarbageCollection::ZunGarbageCollection(CZun* zun) : QObject(zun), m_zun(zun)
{
    m_watch.setInterval(WatchMs);
    connect(&m_watch, &QTimer::timeout, this, &ZunGarbageCollection::onWatch);
    // The progress counts each store the processor confirms while the restore runs, not
    // only what the directory read at its end shows.
    connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_FIRUploaded, this, &ZunGarbageCollection::onStored,
            Qt::QueuedConnection);
    connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_SetupUploaded, this,
            [this](bool ok, int) { onStored(ok); }, Qt::QueuedConnection);
}

void ZunGarbageCollection::onStored(bool ok)
{
    if (m_step != Step::Restoring || !ok || m_back >= m_total)
        return;
    progress(++m_back, m_total);
}

QString ZunGarbageCollection::offerText()
{
    return tr("There is less than 48 kB of memory left in the Zun's flash.\n"
              "A garbage collection may free some: it saves every FIR/limiter set and setup to this computer, erases "
              "the flash and puts them back. This can take about a minute; the Zun goes on running its current "
              "settings meanwhile. You can perform it now or keep the current state and do it later.\n"
              "If you don't make a garbage collection now, storing setups and FIR/limiter sets and changing limiters "
              "may fail for want of memory.");
}

QString ZunGarbageCollection::folder() const
{
    const QString device = m_zun->GetLogFolder();
    return device.isEmpty() ? QString() : device + QStringLiteral("_gc");
}

bool ZunGarbageCollection::holdsBackup() const
{
    const QString path = folder();
    return m_step == Step::Erasing || m_closedWithLoss || (!path.isEmpty() && QDir(path).exists());
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
    // One long operation at a time: beside a load or a restore, their resends would store
    // again what the erase removed.
    const auto refuse = [this](const QString& running) {
        emit m_zun->signal_exception(tr("Zun nr %1 is running %2: the garbage collection was not started, and nothing "
                                        "was erased. Try again once that has ended.")
                                         .arg(m_zun->GetNr())
                                         .arg(running),
                                     QStringLiteral("ZunControl"));
    };
    if (!m_zun->GetOperations()->running().isEmpty()) {
        refuse(m_zun->GetOperations()->runningTexts().value(0));
        return;
    }
    try {
        // A folder left by an earlier collection may be the only copy of what it backed
        // up: it is put back first.
        if (path == m_stuckFolder)
            throw error(tr("The backup folder %1 of an earlier garbage collection could not be removed. Remove it "
                           "by hand, then start the garbage collection again.")
                            .arg(QDir::toNativeSeparators(path)));
        if (QDir(path).exists())
            throw error(tr("The backup of an earlier garbage collection in %1 is not all back on the processor yet. "
                           "It is put back at the next connection; start again after that.")
                            .arg(QDir::toNativeSeparators(path)));
        // What the flash lists is known from a directory read over this link alone: before
        // it, the backup would hold nothing and the erase remove everything.
        if (!m_directoryRead)
            throw error(tr("The processor's flash has not been read since the link came up, so the garbage "
                           "collection can not tell what to back up. Nothing was erased: try again in a moment."));
        if (!QDir().mkpath(path))
            throw error(tr("Could not create the folder %1 for the backup of the garbage collection (its disk has %2 "
                           "free). Nothing was erased.")
                            .arg(QDir::toNativeSeparators(path), freeOnDisk(path)));
        // A backup that could not be written whole (a full disk) says what is missing and why.
        QStringList unwritten;
        m_zun->BackupToDir(path, &unwritten);
        if (!unwritten.isEmpty()) {
            const QString free = freeOnDisk(path);
            QDir(path).removeRecursively();
            throw error(tr("The garbage collection could not write its backup to %1 (its disk has %2 free). Nothing "
                           "was erased. Not written:\n%3")
                            .arg(QDir::toNativeSeparators(path), free, unwritten.join(QLatin1Char('\n'))));
        }
        // The erase destroys what the restore could not put back: each file must pass the
        // restore's checks, and each set and setup of the directory be in the folder as
        // itself. The record then says what the folder holds.
        QMap<QString, QString> unfit;
        const ZunBackupRecord record = ZunBackupRecord::ofFolder(m_zun, path, &unfit);
        const QList<ZunBackupRecord::Entry>& entries = record.entries();
        const CMemoryManager* mem = m_zun->GetMemoryManager();
        const auto inBackup = [&](int position, quint32 id) {
            return std::any_of(entries.cbegin(), entries.cend(),
                               [&](const ZunBackupRecord::Entry& e) { return e.position == position && e.id == id; });
        };
        // What the backup lacks, each with why: a set or setup the program has not read from
        // the processor yet (just stored, or a slow link), or one it could not save.
        QStringList lacking;
        const QString unread = tr("not read from the processor yet");
        // An entry whose bytes are no set (a store that took another client's transfer
        // buffer) has nothing to put back: the erase removes it.
        const CZunFIRLimManager* fir = m_zun->GetFIRLimManager();
        for (int i = 0; i < mem->filterListSize(); ++i)
            if (mem->filterIdAt(i) != 0 && !inBackup(-1, mem->filterIdAt(i)) && !fir->isUnreadableEntry(mem->filterIdAt(i)))
                lacking << tr("FIR/limiter set %1: %2")
                               .arg(mem->filterIdAt(i), 8, 16, QLatin1Char('0'))
                               .arg(m_zun->GetFIRLimManager()->GetFIRFilter(mem->filterIdAt(i)) ? tr("not saved")
                                                                                                : unread);
        // A setup stored under older firmware is backed up converted, as the restore stores it.
        for (int p = 0; p < mem->setupListSize(); ++p)
            if (mem->setupIdAt(p) != 0 && !inBackup(p, mem->setupIdAt(p)) && !inBackup(p, convertedId(m_zun, p)))
                lacking << tr("setup %1: %2")
                               .arg(p)
                               .arg(m_zun->GetSetupManager()->GetSetup(p) ? tr("not saved as the processor holds it")
                                                                          : unread);
        if (!unfit.isEmpty()) {
            QDir(path).removeRecursively();
            throw error(tr("The garbage collection could not put these back after the erase:\n%1\nNothing was "
                           "erased.")
                            .arg(lines(unfit)));
        }
        if (!lacking.isEmpty()) {
            QDir(path).removeRecursively();
            throw error(tr("The backup in %1 did not hold every FIR/limiter set and setup of the processor:\n%2\n"
                           "Nothing was erased. What was not read yet is read within moments: try again then.")
                            .arg(QDir::toNativeSeparators(path), lacking.join(QLatin1Char('\n'))));
        }
        if (entries.isEmpty()) {
            QDir(path).removeRecursively();
            throw error(tr("The processor's flash lists no FIR/limiter set and no setup: the garbage collection has "
                           "nothing to back up. Nothing was erased."));
        }
        // The record is read back as the restore reads it, with the checks of every file: a
        // disk that could not hold it refuses the collection before the erase.
        QString unreadable;
        if (record.write(path, &unreadable)) {
            const Backup back = readBackup(m_zun, path);
            if (!back.whole.isEmpty())
                unreadable = back.whole;
            else if (!back.refused.isEmpty())
                unreadable = lines(back.refused);
            else if (back.record.entries() != entries)
                unreadable = tr("it was not read back as it was written");
        }
        if (!unreadable.isEmpty()) {
            const QString free = freeOnDisk(path);
            QDir(path).removeRecursively();
            throw error(tr("The garbage collection could not write the record of its backup to %1 (its disk has %2 "
                           "free): %3\nNothing was erased.")
                            .arg(QDir::toNativeSeparators(path), free, unreadable));
        }
        m_written = record;
    } catch (const std::exception& e) {
        emit m_zun->signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
        return;
    }
    // This collection's own message says what a lost link left undone.
    QString running;
    const QSharedPointer<ZunOperation> operation =
        m_zun->GetOperations()->beginAlone(ZunLongOperation::GarbageCollection, ZunOperation::LossReport, &running);
    if (!operation) {
        QDir(path).removeRecursively();
        refuse(running);
        return;
    }
    m_step = Step::Erasing;
    m_restoredOnThisLink = false;
    m_refused.clear();
    m_sent.clear();
    m_closedWithLoss = false;
    m_operation = operation;
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
            const QString kept = archive();
            emit m_zun->signal_LogMessage(tr("The backup of an unfinished garbage collection is kept in %1; the flash "
                                             "was erased, it is not put back.\n")
                                              .arg(QDir::toNativeSeparators(kept.isEmpty() ? path : kept)));
        }
        return;
    }
    m_step = ok ? Step::Erased : Step::Idle;
    if (!ok) {
        // Nothing was erased: the processor holds everything, the collection is over.
        finish(false, tr("The processor refused the erase of the garbage collection: nothing was erased, and it "
                         "holds every FIR/limiter set and setup as before.")
                          + removeBackup(m_written));
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
    if (path == m_stuckFolder)
        return; // closed, and named once: it stays only because it can not be removed
    // A directory read before the erase may come after its answer: it lists everything
    // this collection backed up, whatever the folder on disk says now.
    int written = 0;
    if (m_step == Step::Erased && missing(m_written, &written).isEmpty())
        return;
    const Backup b = readBackup(m_zun, path);
    if (!b.whole.isEmpty()) {
        close(tr("Nothing of the garbage collection's backup %1 was put back on the processor: %2.")
                  .arg(QDir::toNativeSeparators(path), b.whole),
              b.record);
        return;
    }
    int total = 0;
    const QStringList lacking = missing(b.record, &total);
    if (lacking.isEmpty() && b.earlier) {
        closeEarlier(b, b.refused, total);
        return;
    }
    if (lacking.isEmpty() && m_step == Step::Restoring && m_own) {
        // What the restore's own spoiled stores left goes, and what they replaced is stored
        // again, before its end is told: the directory after that judges again.
        const QStringList tidied = m_own->tidyNow();
        if (!tidied.isEmpty()) {
            m_tidied << tidied;
            m_idleTicks = 0;
            return;
        }
    }
    if (lacking.isEmpty()) {
        const bool restoring = m_step != Step::Idle, restoredBefore = m_restoredOnThisLink;
        // Files the collection did not write are not the processor's: named, and kept.
        QMap<QString, QString> added = b.refused;
        for (const ZunBackupRecord::Entry& e : b.record.entries())
            added.remove(e.file);
        if (!added.isEmpty()) {
            close(tr("The garbage collection is complete: every FIR/limiter set and setup is back on the "
                     "processor. These files of its backup folder were not put back:\n%1")
                      .arg(lines(added)),
                  b.record, true);
            return;
        }
        const QString kept = removeBackup(b.record);
        QString tidied = m_tidied.isEmpty() ? QString()
                                            : tr("\nAnother program used the processor meanwhile:\n%1")
                                                  .arg(m_tidied.join(QLatin1Char('\n')));
        if (m_own && !m_own->leftAlone().isEmpty())
            tidied += tr("\nAnother program stored meanwhile too; written then and left as it is:\n%1")
                          .arg(m_own->leftAlone().join(QLatin1Char('\n')));
        if (restoring)
            finish(true, tr("The garbage collection is complete: every FIR/limiter set and setup is back on the "
                            "processor.") + tidied + kept);
        else if (!restoredBefore)
            // Whether that collection's erase happened before its cut is not known here,
            // only that nothing of its backup is missing.
            finish(true, tr("An earlier garbage collection did not reach its end; the processor holds every "
                            "FIR/limiter set and setup of its backup. That collection is over, its backup %1 was "
                            "removed.")
                             .arg(QDir::toNativeSeparators(path)) + kept);
        return;
    }
    if (m_step != Step::Restoring) {
        if (m_restoredOnThisLink)
            return; // its end was told
        restore(b, lacking);
    }
    // The directory tells what is back; stores the processor confirms from now on add to it.
    m_back = total - lacking.size();
    m_total = total;
    progress(m_back, total);
    if (m_idleTicks >= IdleTicks && transfersIdle()) {
        // The one try of this connection has ended: what it could not put back is named,
        // each with its reason, and the record closes.
        QMap<QString, QString> reasons;
        for (const QString& file : lacking)
            reasons.insert(file, reason(b, file));
        for (auto r = b.refused.cbegin(); r != b.refused.cend(); ++r)
            reasons.insert(r.key(), r.value());
        if (b.earlier)
            closeEarlier(b, reasons, total - lacking.size());
        else
            close(tr("The garbage collection could not put these back on the processor:\n%1").arg(lines(reasons)),
                  b.record);
    }
}

void ZunGarbageCollection::closeEarlier(const Backup& backup, const QMap<QString, QString>& reasons, int back)
{
    const int total = backup.record.entries().size();
    QString text = tr("The backup %1 was written by an earlier version of the program, without a record of what it "
                      "held: each of its files was checked as any configuration folder is, and tried once.")
                       .arg(QDir::toNativeSeparators(folder()));
    text += total == 0 ? tr(" It holds no FIR/limiter set or setup that passed those checks.")
                       : tr(" The processor holds %1 of the %2 FIR/limiter sets and setups that passed them.")
                             .arg(back)
                             .arg(total);
    if (!reasons.isEmpty())
        text += tr("\nNot put back:\n%1").arg(lines(reasons));
    close(text, backup.record, reasons.isEmpty());
}

void ZunGarbageCollection::progress(int done, int total)
{
    emit signal_Progress(done, total);
    emit m_zun->signal_StatusBarMessage(tr("Garbage collection: %1 of %2 sets and setups back").arg(done).arg(total), 0);
}

void ZunGarbageCollection::onDisconnected()
{
    const QString path = QDir::toNativeSeparators(folder());
    // The operator's close of the control window ends the link too: said as such.
    const QString cut = m_zun->GetOperations()->stoppedByOperator()
                            ? tr("The processor's control window was closed (which ended the link)")
                            : tr("The link to the processor was lost");
    if (m_step == Step::Erasing || m_step == Step::Erased) {
        finish(false, tr("%1 %2 the garbage collection's erase. At the next connection whatever the erase removed "
                         "is put back from %3.")
                          .arg(cut, m_step == Step::Erasing ? tr("during") : tr("right after"), path),
               true);
    } else if (m_step == Step::Restoring) {
        // Which uploads the processor stored before the cut the next directory tells.
        finish(false, tr("%1 while the garbage collection put its backup back. At the next connection whatever the "
                         "processor lacks is put back from %2.")
                          .arg(cut, path),
               true);
    }
    m_restoredOnThisLink = false;
    m_directoryRead = false;
}

QStringList ZunGarbageCollection::missing(const ZunBackupRecord& record, int* total) const
{
    // By the ids the record names: a set back inside a setup is back, whatever its own file.
    const CMemoryManager* mem = m_zun->GetMemoryManager();
    QStringList lacking;
    for (const ZunBackupRecord::Entry& e : record.entries())
        if (e.position < 0 ? !mem->hasFilterId(e.id) : mem->setupIdAt(e.position) != e.id)
            lacking << e.file;
    *total = record.entries().size();
    return lacking;
}

QString ZunGarbageCollection::reason(const Backup& backup, const QString& file) const
{
    if (backup.refused.contains(file))
        return backup.refused.value(file);
    for (const QString& r : m_refused)
        if (r.startsWith(file + QLatin1Char(':')))
            return r.mid(file.size() + 1).trimmed();
    return m_sent.contains(file) ? tr("sent, but the processor did not store it") : tr("not sent");
}

void ZunGarbageCollection::restore(const Backup& backup, const QStringList& lacking)
{
    // A restore the operator did not start just now (a connection found the backup) is
    // a collection of its own for the window.
    if (m_step == Step::Idle)
        emit signal_Started();
    m_step = Step::Restoring;
    m_restoredOnThisLink = true;
    m_idleTicks = 0;
    m_own = QSharedPointer<ZunOwnStores>::create(m_zun);
    m_tidied.clear();
    for (const ZunBackupRecord::Entry& e : backup.record.entries()) {
        if (e.position < 0)
            m_own->meanSet(e.id);
        else
            m_own->meanSetup(e.position, e.id);
    }
    // A restore a connection started is an operation of its own; the collection's goes on.
    if (!m_operation || !m_operation->isRunning())
        m_operation = m_zun->GetOperations()->begin(ZunLongOperation::BackupRestore, ZunOperation::LossReport);
    // What the processor lacks and passed the checks goes back, each on its own: one that
    // can not be stored stops none of the others.
    const QString path = folder();
    m_sent.clear();
    for (const QString& file : lacking)
        if (!backup.refused.contains(file))
            m_sent << file;
    QStringList sets, setups;
    QMetaObject::invokeMethod(m_zun->GetFIRLimManager(), "restoreDir", zunWaitingCall(m_zun->GetFIRLimManager()),
                              Q_RETURN_ARG(QStringList, sets), Q_ARG(QString, path), Q_ARG(QStringList, m_sent));
    QMetaObject::invokeMethod(m_zun->GetSetupManager(), "restoreDir", zunWaitingCall(m_zun->GetSetupManager()),
                              Q_RETURN_ARG(QStringList, setups), Q_ARG(QString, path), Q_ARG(QStringList, m_sent));
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

QString ZunGarbageCollection::archive()
{
    const QString path = folder();
    const QString stamped = path + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-hhmmss"));
    QString kept = stamped;
    for (int n = 2; QFileInfo::exists(kept); ++n)
        kept = stamped + QStringLiteral("-%1").arg(n);
    if (QDir().rename(path, kept))
        return kept;
    // Not renamed (a folder that can not be changed): it is no record any more all the same.
    m_stuckFolder = path;
    return QString();
}

QString ZunGarbageCollection::removeBackup(const ZunBackupRecord& record)
{
    // Renamed first: a folder that keeps some of its files is no record any more.
    const QString path = folder();
    const QString kept = archive();
    if (kept.isEmpty())
        return tr("\nIts backup folder could not be removed: remove %1 by hand.").arg(QDir::toNativeSeparators(path));
    // Only what the collection wrote goes: a folder that is a link keeps what its target
    // holds besides, and a file or folder put beside the backup stays.
    QDir dir(kept);
    bool removed = true;
    for (const ZunBackupRecord::Entry& e : record.entries())
        removed = (!dir.exists(e.file) || dir.remove(e.file)) && removed;
    removed = dir.remove(QString::fromLatin1(ZunBackupRecord::FileName)) && removed;
    if (QFileInfo(kept).isSymLink() ? QFile::remove(kept) : QDir().rmdir(kept))
        return removed ? QString()
                       : tr("\nSome files of its backup could not be removed from %1.").arg(QDir::toNativeSeparators(kept));
    return tr("\nIts backup folder held what the garbage collection did not write; that is kept in %1.")
        .arg(QDir::toNativeSeparators(kept));
}

void ZunGarbageCollection::close(const QString& text, const ZunBackupRecord& record, bool ok)
{
    m_closedWithLoss = !ok;
    const QString path = folder();
    const QString kept = archive();
    const QString where =
        kept.isEmpty()
            ? tr("Its backup folder %1 could not be renamed; it is not put back again while the program runs. Rename "
                 "or remove it by hand.")
                  .arg(QDir::toNativeSeparators(path))
            : tr("Its backup is closed: it is not put back again, and is kept in %1. A file from there can be loaded "
                 "by hand with \"Upload FIR Filter\" or \"Upload Setup\" (which asks before it replaces a setup).")
                  .arg(QDir::toNativeSeparators(kept));
    finish(ok, text + QLatin1Char('\n') + where + (ok ? QString() : unstoredRunning(record, kept.isEmpty() ? path : kept)));
}

QString ZunGarbageCollection::unstoredRunning(const ZunBackupRecord& record, const QString& kept) const
{
    // Said here once: while the closed record keeps the pass-through set away for the
    // session, no connection of it tells of a running set the flash lacks.
    QString text;
    QList<quint32> told;
    for (const quint16 dsp : {quint16(1), quint16(2)}) {
        const quint32 id = m_zun->GetActiveFilterIndex(dsp);
        if (id == 0 || told.contains(id) || m_zun->GetMemoryManager()->hasFilterId(id))
            continue;
        told << id;
        const auto file = std::find_if(record.entries().cbegin(), record.entries().cend(),
                                       [id](const ZunBackupRecord::Entry& e) { return e.position < 0 && e.id == id; });
        text += tr("\nThe DSPs run the FIR/limiter set %1, which the processor's flash does not hold: it goes on "
                   "running, but is lost when the processor restarts. To store it, upload %2 with \"Upload to Zun\" "
                   "beside \"Select FIR for DSP1\".")
                    .arg(id, 8, 16, QLatin1Char('0'))
                    .arg(file == record.entries().cend()
                             ? tr("its FIR file")
                             : tr("its file %1").arg(QDir::toNativeSeparators(QDir(kept).filePath(file->file))));
    }
    return text;
}

void ZunGarbageCollection::finish(bool ok, const QString& text, bool linkLost)
{
    m_step = Step::Idle;
    m_own.reset();
    m_watch.stop();
    m_idleTicks = 0;
    // What it took comes back here, on every end.
    if (const QSharedPointer<ZunOperation> operation = std::exchange(m_operation, {}))
        operation->finish(ok                                  ? ZunOperation::Outcome::Done
                          : linkLost || !m_zun->IsConnected() ? ZunOperation::Outcome::LinkLost
                                                              : ZunOperation::Outcome::Refused);
    emit m_zun->signal_StatusBarMessage(ok ? tr("Garbage collection complete") : tr("Garbage collection not complete"),
                                        5000);
    emit m_zun->signal_LogMessage(text + QLatin1Char('\n'), !ok);
    if (!ok)
        emit m_zun->signal_exception(text, tr("Garbage collection"));
    emit signal_Finished(ok, text);
}
