#include "CZunFIRLimManager.h"

#include "CCmdMap.h"
#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunMetaCmd.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunBlockFailures.h"
#include "ZunCmdBuffer.h"
#include "ZunDSPProgramInfo.h"
#include "ZunDSPProgramManager.h"
#include "ZunWaitMs.h"
#include "ZunWaitingCall.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QSettings>
#include <QStandardItemModel>
#include <QTimer>

#include <stdexcept>
#include <utility>

namespace
{
constexpr quint32 KeepSet = 0xFFFFFFFFu;
constexpr int WaitRounds = 3000; // of 5 ms: about 15 s
constexpr double FileSampleRate = 48000.0;

std::logic_error error(const QString& text) { return std::logic_error(text.toStdString()); }

constexpr int NameRole = Qt::UserRole + 1;

QStandardItem* makeItem(const QString& name, uint id, const QString& tip)
{
    auto* item = new QStandardItem(name);
    item->setData(id, Qt::UserRole);
    item->setData(name, NameRole);
    item->setData(tip, Qt::ToolTipRole);
    item->setEditable(false);
    return item;
}

// Sets of one name (two pass-through sets, or sets stored in place after a limiter edit)
// are told apart in every list by their ids.
void labelRows(QStandardItemModel* m)
{
    QHash<QString, int> uses;
    for (int row = 0; row < m->rowCount(); ++row)
        ++uses[m->item(row)->data(NameRole).toString()];
    for (int row = 0; row < m->rowCount(); ++row) {
        QStandardItem* item = m->item(row);
        const QString name = item->data(NameRole).toString();
        const QString text = uses.value(name) < 2 ? name
                                                  : QStringLiteral("%1 (%2)").arg(name).arg(
                                                        item->data(Qt::UserRole).toUInt(), 8, 16, QLatin1Char('0'));
        if (item->text() != text)
            item->setText(text);
    }
}
} // namespace

// --- limiter parameter ranges ----------------------------------------------------------

const CZunParam& CZunFIRLimManager::LimGainRange()
{
    static const CZunParam r({{0, 0.1}, {20, 1}, {50, 0}});
    return r;
}
const CZunParam& CZunFIRLimManager::LimPowerRangeW()
{
    static const CZunParam r({{1, 1}, {20, 2}, {40, 5}, {100, 10}, {500, 50}, {1000, 100}, {15000, 0}});
    return r;
}
const CZunParam& CZunFIRLimManager::LimVoltageRange()
{
    static const CZunParam r({{0.1, 0.1}, {10, 0.5}, {50, 1}, {400, 0}});
    return r;
}
const CZunParam& CZunFIRLimManager::LimLevelRangeDb()
{
    static const CZunParam r({{-30, 1}, {60, 0}});
    return r;
}
const CZunParam& CZunFIRLimManager::LimSurgeDurationRange()
{
    static const CZunParam r({{1, 0.5}, {50, 5}, {100, 10}, {500, 50}, {1000, 100}, {5000, 0}});
    return r;
}
const CZunParam& CZunFIRLimManager::LimRmsTimeRange()
{
    static const CZunParam r({{1, 0.5}, {50, 5}, {100, 10}, {500, 50}, {1000, 100}, {5000, 0}});
    return r;
}
const CZunParam& CZunFIRLimManager::LimImpedanceRange()
{
    static const CZunParam r({{0.1, 0.1}, {10, 0.5}, {20, 1}, {100, 0}});
    return r;
}

// --- construction ------------------------------------------------------------------------

CZunFIRLimManager::CZunFIRLimManager(CZun* zun) : m_zun(zun), m_map(zun->GetCmdMap())
{
    // No parent: the model stays in this (the GUI) thread when the manager moves on.
    m_model = new QStandardItemModel(0, 1);
    CZunStatusBuffer* image = zun->GetStatusBuffer();
    connect(image, &CZunStatusBuffer::signal_FIRFilterSelect, this, &CZunFIRLimManager::on_FIRFilterSelect,
            Qt::QueuedConnection);
    connect(image, &CZunStatusBuffer::signal_FIRDownloaded, this, &CZunFIRLimManager::on_FIRDownloaded,
            Qt::QueuedConnection);
    connect(image, &CZunStatusBuffer::signal_Unanswered, this, &CZunFIRLimManager::on_Unanswered,
            Qt::QueuedConnection);
    connect(image, &CZunStatusBuffer::signal_StoreRefused, this, &CZunFIRLimManager::on_StoreRefused,
            Qt::QueuedConnection);
    connect(image, &CZunStatusBuffer::signal_FIRUploaded, this, &CZunFIRLimManager::on_FIRUploaded,
            Qt::QueuedConnection);
    zunConnectWaiting(zun, QOverload<QShPtrFLE, uint>::of(&CZun::signal_UploadFIRFilter), this,
                      QOverload<QShPtrFLE, unsigned int>::of(&CZunFIRLimManager::UploadFIRFilter));
    zunConnectWaiting(zun, QOverload<QString, uint>::of(&CZun::signal_UploadFIRFilter), this,
                      QOverload<QString, unsigned int>::of(&CZunFIRLimManager::UploadFIRFilter));
    zunConnectWaiting(zun, &CZun::signal_RemoveFIRFilter, this, &CZunFIRLimManager::RemoveFIRFilter);
    connect(zun, &CZun::signal_Disconnected, this, &CZunFIRLimManager::on_Disconnected, Qt::QueuedConnection);
    forwardFailedBlockWrites(zun->GetLink(), this);
}

CZunFIRLimManager::~CZunFIRLimManager()
{
    // A transfer cut by the quit still holds the lock; its completion never comes.
    while (m_heldLevels > 0)
        releaseTransfer();
    // Sets may outlive the manager in the views: they must not point at it any more.
    for (const QShPtrFLE& s : qAsConst(m_sets))
        s->setManager(nullptr);
    for (const QShPtrFLE& s : m_active)
        if (s)
            s->setManager(nullptr);
    delete m_model;
}

// --- helpers ---------------------------------------------------------------------------------

quint16 CZunFIRLimManager::nr(const char* name) const { return m_map->getCmdNr(name); }

void CZunFIRLimManager::guarded(const std::function<void()>& work)
{
    QString text;
    try {
        work();
        return;
    } catch (const CBlockFIR::invalid_filter& e) {
        text = CBlockFIR::invalid_filter::textOf(e);
    } catch (const CCmdMap::invalid_cmd& e) {
        text = QStringLiteral("%1 (%2)").arg(QString::fromStdString(e.what()), QString::fromStdString(e.text()));
    } catch (const std::exception& e) {
        text = QString::fromStdString(e.what());
    }
    qWarning().noquote() << "CZunFIRLimManager:" << text;
    emit m_zun->signal_exception(text, QStringLiteral("ZunControl"));
}

void CZunFIRLimManager::postModel(const std::function<void(QStandardItemModel*)>& change)
{
    QStandardItemModel* model = m_model;
    QMetaObject::invokeMethod(model, [model, change]() { change(model); }, Qt::QueuedConnection);
}

void CZunFIRLimManager::holdTransfer()
{
    m_mutex.lock();
    ++m_heldLevels;
}

void CZunFIRLimManager::releaseTransfer()
{
    // A completion without a transfer of ours (a stray reply) releases nothing.
    if (m_heldLevels <= 0)
        return;
    --m_heldLevels;
    m_mutex.unlock();
}

void CZunFIRLimManager::decrement(std::atomic<quint32>& counter)
{
    quint32 v = counter.load();
    while (v > 0 && !counter.compare_exchange_weak(v, v - 1)) {
    }
}

QString CZunFIRLimManager::cacheFolder() const { return m_zun->GetLogFolder(); }

QString CZunFIRLimManager::cacheFile(const QShPtrFLE& set) const
{
    const QString folder = cacheFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(set->makeFileName(true));
}

// Only a copy (the flash holds the set): one that can not be written (a full disk, a
// read-only configuration folder) goes to the log, not into a box at every download or load.
void CZunFIRLimManager::cacheSet(const QShPtrFLE& set) const
{
    const QString folder = cacheFolder();
    if (folder.isEmpty())
        return;
    try {
        set->toFile(folder, true);
    } catch (const std::exception& e) {
        emit m_zun->signal_LogMessage(QString::fromStdString(e.what()) + QLatin1Char('\n'), true);
    }
}

QStringList CZunFIRLimManager::setupsUsing(quint32 id) const
{
    QMutexLocker lock(&m_dataLock);
    return m_setupsByFir.value(id);
}

void CZunFIRLimManager::removeFromList(int row, bool deleteFile)
{
    QMutexLocker lock(&m_mutex);
    QShPtrFLE set;
    {
        QMutexLocker data(&m_dataLock);
        if (row < 0 || row >= m_sets.size())
            return;
        set = m_sets.takeAt(row);
    }
    postModel([row](QStandardItemModel* m) {
        if (row < m->rowCount())
            m->removeRow(row);
        labelRows(m);
    });
    if (deleteFile) {
        const QString file = cacheFile(set);
        if (!file.isEmpty())
            QFile::remove(file);
    }
}

// --- list readers --------------------------------------------------------------------------

QShPtrFLE CZunFIRLimManager::GetFIRFilter(uint id) const
{
    QMutexLocker lock(&m_dataLock);
    for (const QShPtrFLE& s : m_sets)
        if (s->getKey() == id)
            return s;
    return QShPtrFLE();
}

int CZunFIRLimManager::GetFIRFilterPos(uint id) const
{
    QMutexLocker lock(&m_dataLock);
    for (int i = 0; i < m_sets.size(); ++i)
        if (m_sets.at(i)->getKey() == id)
            return i;
    return -1;
}

QShPtrFLE CZunFIRLimManager::GetFIRFilterCopy(uint id) const
{
    const QShPtrFLE s = GetFIRFilter(id);
    if (!s)
        return QShPtrFLE();
    auto copy = QShPtrFLE::create(const_cast<CZunFIRLimManager*>(this), s->toByteArray());
    copy->SetName(s->GetName());
    return copy;
}

bool CZunFIRLimManager::IsInList(const QShPtrFLE& set) const
{
    return set && GetFIRFilterPos(set->getKey()) >= 0;
}

bool CZunFIRLimManager::IsInList(const QString& name) const
{
    for (const QShPtrFLE& s : m_sets)
        if (s->GetName() == name)
            return true;
    return false;
}

int CZunFIRLimManager::filterCount() const
{
    QMutexLocker lock(&m_dataLock);
    return m_sets.size();
}

QShPtrFLE CZunFIRLimManager::CreateThruFIRFilter(double sampleRate, int multipathMode)
{
    auto set = QShPtrFLE::create(this, QString(), sampleRate);
    if (multipathMode != 0) {
        set->multipathLabel(multipathMode, 1);
        set->computeKey();
    }
    return set;
}

QShPtrFLE CZunFIRLimManager::GetActiveFIRFilter(uint dsp) const
{
    const quint32 id = m_zun->GetActiveFilterIndex(quint16(dsp));
    return id == 0 ? QShPtrFLE() : GetFIRFilter(id);
}

int CZunFIRLimManager::GetActiveFIRFilterPos(uint dsp) const
{
    const quint32 id = m_zun->GetActiveFilterIndex(quint16(dsp));
    return id == 0 ? -1 : GetFIRFilterPos(id);
}

QShPtrFLE CZunFIRLimManager::activeSet(int dsp) const
{
    QMutexLocker lock(&m_dataLock);
    return dsp == 2 ? m_active[1] : m_active[0];
}

bool CZunFIRLimManager::upDownLoadsInProgress() const
{
    return m_pendingDownloads.load() != 0 || m_pendingUploads.load() != 0;
}

// --- list changes ------------------------------------------------------------------------------

void CZunFIRLimManager::AddFIRFilterToList(QShPtrFLE set)
{
    if (!set)
        return;
    QMutexLocker lock(&m_mutex);
    set->setManager(this);
    const uint id = set->getKey();
    const QString name = set->GetName();
    const QString tip = set->infoHtml();
    const int row = GetFIRFilterPos(id);
    if (row < 0) {
        {
            QMutexLocker data(&m_dataLock);
            m_sets.append(set);
        }
        postModel([name, id, tip](QStandardItemModel* m) {
            m->appendRow(makeItem(name, id, tip));
            labelRows(m);
        });
        cacheSet(set);
    } else {
        {
            QMutexLocker data(&m_dataLock);
            m_sets[row] = set;
        }
        postModel([row, name, id, tip](QStandardItemModel* m) {
            if (row < m->rowCount())
                m->setItem(row, 0, makeItem(name, id, tip));
            labelRows(m);
        });
    }
}

void CZunFIRLimManager::initialize()
{
    guarded([this]() {
        m_map = m_zun->GetCmdMap();
        CMemoryManager* mem = m_zun->GetMemoryManager();
        bool loaded = false;
        {
            // A new start: whatever was still counted belongs to the state before it (a
            // completion that never came would otherwise keep signal_Initialized away for
            // good); late completions of those transfers are then strays and change nothing.
            abandonTransfers();
            QMutexLocker lock(&m_mutex);
            const QString folder = cacheFolder();
            if (!folder.isEmpty()) {
                const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.fir")}, QDir::Files);
                for (const QFileInfo& fi : files) {
                    QShPtrFLE set;
                    try {
                        set = QShPtrFLE::create(this, fi.absoluteFilePath(), FileSampleRate);
                    } catch (const std::exception& e) {
                        // Only a copy: the flash still has the set and it is downloaded.
                        qWarning().noquote() << "CZunFIRLimManager: unreadable cache file" << fi.fileName()
                                             << "removed:" << e.what();
                        QFile::remove(fi.absoluteFilePath());
                        continue;
                    }
                    if (mem->hasFilterId(set->getKey())) {
                        if (GetFIRFilterPos(set->getKey()) < 0) {
                            AddFIRFilterToList(set);
                            loaded = true;
                        }
                    } else {
                        QFile::remove(fi.absoluteFilePath());
                    }
                }
            }
            for (int i = 0; i < m_sets.size(); ++i)
                qDebug().noquote() << QStringLiteral("Filter pos %1, name %2, crc %3")
                                          .arg(i)
                                          .arg(m_sets.at(i)->GetName())
                                          .arg(m_sets.at(i)->getKey(), 0, 16);
            for (int i = m_sets.size() - 1; i >= 0; --i)
                if (!mem->hasFilterId(m_sets.at(i)->getKey()))
                    removeFromList(i, false);
        }

        {
            QMutexLocker data(&m_dataLock);
            for (auto it = m_unreadable.begin(); it != m_unreadable.end();)
                it = mem->filterIdAt(it.value()) == it.key() ? std::next(it) : m_unreadable.erase(it);
        }
        m_rereads.clear();
        const int slotCount = mem->filterListSize();
        for (int p = 0; p < slotCount; ++p) {
            const quint32 id = mem->filterIdAt(p);
            if (id == 0 || GetFIRFilterPos(id) >= 0 || isUnreadableEntry(id))
                continue;
            holdTransfer();
            ++m_pendingDownloads;
            if (!sendDownload(p)) {
                // Not sent: no completion will come.
                releaseTransfer();
                decrement(m_pendingDownloads);
            }
        }
        verifyStores();
        if (m_pendingDownloads.load() == 0)
            emit signal_Initialized();
        if (loaded) {
            emit signal_MapFIRFilterRefreshed();
            refreshActive();
        }
    });
}

bool CZunFIRLimManager::sendDownload(int slot)
{
    CZunMetaCmd meta;
    meta.appendCmd(nr("Cmd_MemID2"), nr("ID_List_Filter"));
    meta.appendCmd(nr("Cmd_MemID0"), quint16(slot));
    meta.appendCmd(nr("Cmd_MemCopy"), quint16(nr("CmdS_CopyF2RxTxBuf") + nr("ID_FAI_Ctrl_r")));
    meta.appendCmd(nr("ID_TX_Block"), nr("ID_Block_Flash"));
    meta.setSupersede(false);
    meta.setBackground(true); // the operator's edits go first
    return m_zun->SendMetaCmd(meta) == 0;
}

QMap<quint32, int> CZunFIRLimManager::unreadableEntries() const
{
    QMutexLocker data(&m_dataLock);
    return m_unreadable;
}

bool CZunFIRLimManager::isUnreadableEntry(quint32 id) const
{
    QMutexLocker data(&m_dataLock);
    return m_unreadable.contains(id);
}

void CZunFIRLimManager::on_FIRDownloaded(int slot, QByteArray data)
{
    if (m_pendingDownloads.load() == 0)
        return; // no download of ours is in flight
    const quint32 listed = m_zun->GetMemoryManager()->filterIdAt(slot);
    QShPtrFLE set;
    QString why;
    try {
        if (data.isEmpty())
            throw error(QStringLiteral("no bytes"));
        set = QShPtrFLE::create(this, data);
    } catch (const std::exception& e) {
        why = QString::fromLatin1(e.what());
    }
    // Another client's block may have taken the processor's one transfer buffer between
    // the copy and the read: what was not asked for is read again, twice at most.
    if ((!set || set->getKey() != listed) && listed != 0 && ++m_rereads[slot] <= 2 && sendDownload(slot))
        return;
    m_rereads.remove(slot);
    if (set) {
        AddFIRFilterToList(set);
    } else if (listed != 0) {
        {
            QMutexLocker lock(&m_dataLock);
            m_unreadable.insert(listed, slot);
        }
        // A damaged block must not keep the download counted or the mutex held.
        emit m_zun->signal_LogMessage(
            QStringLiteral("The flash entry %1 in FIR/limiter slot %2 holds no FIR/limiter set (%3). \"Remove FIR\" "
                           "offers it for removal; a garbage collection leaves it out.")
                .arg(listed, 8, 16, QLatin1Char('0'))
                .arg(slot)
                .arg(why),
            true);
    }
    releaseTransfer();
    decrement(m_pendingDownloads);
    if (m_pendingDownloads.load() == 0) {
        emit signal_Initialized();
        emit signal_MapFIRFilterRefreshed();
        guarded([this]() { refreshActive(); });
    }
}

void CZunFIRLimManager::UploadFIRFilter(QShPtrFLE set, unsigned int oldId)
{
    guarded([&]() { uploadSet(set, oldId); });
}

void CZunFIRLimManager::UploadFIRFilter(QShPtrFLE set) { UploadFIRFilter(set, 0); }

void CZunFIRLimManager::UploadOwnFIRFilter(QShPtrFLE set)
{
    guarded([&]() {
        try {
            uploadSet(set, 0);
        } catch (const std::exception&) {
            if (m_zun->IsConnected() || !m_zun->IsDisconnectAsked())
                throw;
            emit m_zun->signal_LogMessage(QStringLiteral("FIR set %1 was not stored: the link to the processor was "
                                                         "closed. It is stored at the next connection.")
                                              .arg(set ? set->GetName() : QString()),
                                          true);
        }
    });
}

void CZunFIRLimManager::UploadFIRFilter(QString file, unsigned int oldId)
{
    guarded([&]() { uploadSet(QShPtrFLE::create(this, file, FileSampleRate), oldId); });
}

void CZunFIRLimManager::UploadFIRFilter(QString file) { UploadFIRFilter(file, 0); }

void CZunFIRLimManager::uploadSet(const QShPtrFLE& set, quint32 oldId)
{
    if (!set)
        throw error(QStringLiteral("CZunFIRLimManager::UploadFIRFilter(): no FIR filter given."));
    CMemoryManager* mem = m_zun->GetMemoryManager();
    QMutexLocker lock(&m_mutex);
    const quint32 id = set->getKey();
    quint16 slot;
    if (mem->hasFilterId(oldId)) {
        if (mem->hasFilterId(id))
            return;
        slot = quint16(mem->GetFilterListPos(oldId));
    } else {
        if (mem->hasFilterId(id) || GetFIRFilterPos(id) >= 0)
            return;
        slot = nr("ID_ListAppend");
    }
    // Checked before the set is listed, modelled or cached: a refused set leaves no trace.
    if (!mem->canUpload())
        throw error(QStringLiteral("Max capacity of flash mem reached. Filter %1 will not be uploaded.")
                        .arg(set->GetName()));
    if (keptByReportedLoss(m_zun, set->GetName()))
        return;
    if (!m_zun->IsConnected())
        throw error(QStringLiteral("Filter %1 was not uploaded: the device is not connected.").arg(set->GetName()));
    // Stored as read: what the reading changed (a name cut to what the flash keeps) is said.
    if (!set->readNote().isEmpty())
        emit m_zun->signal_LogMessage(set->readNote(), false);
    AddFIRFilterToList(set);

    const QByteArray image = set->toByteArray();
    CZunMetaCmd meta(nr("ID_RX_Block_Start"), quint16(image.size()), image);
    meta.appendCmd(nr("Cmd_MemID2"), nr("ID_List_Filter"));
    meta.appendCmd(nr("Cmd_MemID0"), slot);
    meta.appendCmd(nr("Cmd_MemCopy"), quint16(nr("CmdS_CopyRxTxBuf2F") + nr("ID_FAI_Ctrl_w_RxTxBuf")));
    ++m_pendingUploads;
    mem->incTransfers();
    holdTransfer();
    m_uploading.append(id);
    m_uploadingImages.append(image);
    if (m_zun->SendMetaCmd(meta) != 0) {
        m_uploading.removeLast();
        m_uploadingImages.removeLast();
        releaseTransfer();
        decrement(m_pendingUploads);
        mem->decTransfers();
        removeFromList(GetFIRFilterPos(id), true);
        if (!keptByReportedLoss(m_zun, set->GetName()))
            throw error(QStringLiteral("Filter %1 was not uploaded: the device is not connected.").arg(set->GetName()));
    }
}

void CZunFIRLimManager::on_FIRUploaded(bool ok)
{
    CMemoryManager* mem = m_zun->GetMemoryManager();
    if (m_uploading.isEmpty())
        return; // a stray completion: none of our uploads is in flight
    const quint32 id = m_uploading.takeFirst();
    m_uploadingImages.removeFirst();
    const quint16 refusal = std::exchange(m_refusal, 0);
    // Refused for what the transfer buffer held (another program's bytes, or none): sent
    // again, twice at most, before the refusal counts. The new upload is counted before
    // this one is counted off, so that nothing waiting sees the uploads end between.
    const QShPtrFLE again = GetFIRFilter(id);
    if (!ok && again && zunRefusedForTheBuffer(*m_map, refusal) && m_storeTries.sendAgain(id)) {
        emit m_zun->signal_LogMessage(QStringLiteral("The processor refused the FIR/limiter set %1: its transfer buffer "
                                                     "did not hold it (another program used it meanwhile). The set is "
                                                     "sent again.")
                                          .arg(again->GetName()),
                                      true);
        resendLater(again);
        releaseTransfer();
        decrement(m_pendingUploads);
        mem->decTransfers();
        return;
    }
    // A failure another try would not mend ends the tries; a store taken keeps them until a
    // directory lists it (verifyStores), so that a set the processor always stores as
    // something else is not sent for ever.
    if (!ok && !zunRefusedForTheBuffer(*m_map, refusal))
        m_storeTries.forget(id);
    // Taken: it counts once a directory lists it.
    if (ok && id != 0) {
        m_unverified.insert(id, GetFIRFilter(id));
        m_answeredAt.insert(id, m_zun->GetStatusBuffer()->storesAnswered());
        m_unsettled = m_unverified.size();
    }
    if (!ok && id != 0 && !mem->hasFilterId(id)) {
        // The flash refused the set: it is neither listed, modelled nor cached.
        const int row = GetFIRFilterPos(id);
        QString name = row >= 0 ? GetFIRFilter(id)->GetName() : QString::number(id, 16);
        removeFromList(row, true);
        emit m_zun->signal_LogMessage(QStringLiteral("Filter %1 could not be stored in the flash.").arg(name), true);
    }
    releaseTransfer();
    decrement(m_pendingUploads);
    mem->decTransfers();
    if (m_pendingUploads.load() == 0) {
        emit signal_MapFIRFilterRefreshed();
        guarded([this]() { refreshActive(); });
    }
}

void CZunFIRLimManager::on_StoreRefused(quint16 kind, quint16 code)
{
    if (kind == nr("ID_List_Filter"))
        m_refusal = code;
}

void CZunFIRLimManager::verifyStores()
{
    CMemoryManager* mem = m_zun->GetMemoryManager();
    const QList<quint32> ids = m_unverified.keys();
    for (const quint32 id : ids) {
        // Still on its way, or the directory was read before its answer: a later one tells.
        if (m_uploading.contains(id) || mem->storesAnsweredBefore() < m_answeredAt.value(id))
            continue;
        m_answeredAt.remove(id);
        const QShPtrFLE set = m_unverified.take(id);
        if (mem->hasFilterId(id) || !set) {
            m_storeTries.forget(id);
            continue;
        }
        const QString name = set->GetName();
        if (!m_storeTries.sendAgain(id)) {
            emit m_zun->signal_exception(
                QStringLiteral("The FIR/limiter set %1 was sent to the processor three times, and each time it stored "
                               "something else (another program used the processor meanwhile). The set is not "
                               "stored: upload it again.")
                    .arg(name),
                QStringLiteral("FIR/limiter set not stored"));
            continue;
        }
        emit m_zun->signal_LogMessage(QStringLiteral("The processor stored something else in place of the FIR/limiter "
                                                     "set %1 (another program used it meanwhile): the set is sent again.")
                                          .arg(name),
                                      true);
        resendLater(set);
    }
    m_unsettled = m_unverified.size();
}

void CZunFIRLimManager::resendLater(const QShPtrFLE& set)
{
    ++m_resendsDue;
    const int link = m_links;
    QTimer::singleShot(m_storeTries.pauseMs(set->getKey()), this, [this, set, link]() {
        if (link == m_links) {
            try {
                // Listed while it waited: taken off so that the upload lists it anew.
                if (!m_zun->GetMemoryManager()->hasFilterId(set->getKey())) {
                    removeFromList(GetFIRFilterPos(set->getKey()), false);
                    uploadSet(set, 0);
                }
            } catch (const std::exception& e) {
                emit m_zun->signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
            }
        }
        decrement(m_resendsDue);
    });
}

void CZunFIRLimManager::RemoveFIRFilter(unsigned int id)
{
    guarded([&]() { removeSet(id); });
}

void CZunFIRLimManager::removeSet(quint32 id)
{
    CMemoryManager* mem = m_zun->GetMemoryManager();
    QMutexLocker lock(&m_mutex);
    const int position = mem->GetFilterListPos(id);
    if (id == 0 || position < 0)
        throw error(QStringLiteral("CZunFIRLimManager::RemoveFIRFilter(): FIR filter %1 is not stored on the device.")
                        .arg(id, 8, 16, QLatin1Char('0')));
    if (!m_zun->IsConnected())
        throw error(QStringLiteral("CZunFIRLimManager::RemoveFIRFilter(): the device is not connected."));
    removeFromList(GetFIRFilterPos(id), false);
    CZunMetaCmd meta(nr("Cmd_MemID2"), nr("ID_List_Filter"));
    meta.appendCmd(nr("Cmd_MemID0"), quint16(position));
    meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_DeleteInF"));
    meta.setSupersede(false);
    holdTransfer();
    m_removing.append(id);
    if (m_zun->SendMetaCmd(meta) != 0) {
        m_removing.removeLast();
        releaseTransfer();
    }
}

void CZunFIRLimManager::on_FIRFilterRemoved(unsigned int id)
{
    // The processor's reply names the slot, not the set: report the set we removed.
    quint32 removed = id;
    if (!m_removing.isEmpty()) {
        removed = m_removing.takeFirst();
        releaseTransfer();
    }
    QMetaObject::invokeMethod(m_zun, "RefreshMemDir", Qt::QueuedConnection);
    emit signal_FIRFilterRemoved(removed);
}

void CZunFIRLimManager::on_Disconnected()
{
    for (const quint32 id : qAsConst(m_uploading)) {
        const QShPtrFLE set = GetFIRFilter(id);
        emit m_zun->signal_LogMessage(QStringLiteral("FIR set %1 was not stored: the link to the processor was lost.")
                                          .arg(set ? set->GetName() : QString::number(id, 16)),
                                      true);
    }
    abandonTransfers();
    m_loadsAwaited = 0; // no answer comes over a lost link
    m_droppedLoads.clear();
    ++m_linkEnds;
    m_storeTries.clear();
    ++m_links;
}

void CZunFIRLimManager::abandonTransfers()
{
    CMemoryManager* mem = m_zun->GetMemoryManager();
    for (int i = 0; i < m_uploading.size(); ++i)
        mem->decTransfers();
    m_uploading.clear();
    m_uploadingImages.clear();
    m_removing.clear();
    while (m_heldLevels > 0)
        releaseTransfer();
    m_pendingDownloads = 0;
    m_pendingUploads = 0;
}

void CZunFIRLimManager::on_BlockFailed(QByteArray payload)
{
    if (!m_uploadingImages.isEmpty() && m_uploadingImages.first() == payload)
        on_FIRUploaded(false);
}

void CZunFIRLimManager::on_ZunStatusChanged()
{
    // The device has already reported why it cannot read its image: one fault, one report.
    if (m_zun->IsImageUnreadable())
        return;
    guarded([this]() { refreshActive(); });
}

void CZunFIRLimManager::refreshActive()
{
    const quint32 id0 = m_zun->GetActiveFilterIndex(1);
    const bool doubleBoard = m_zun->GetHardwareInfo().isDoubleBoard();
    const int row0 = GetFIRFilterPos(id0);
    const QShPtrFLE copy0 = row0 >= 0 ? GetFIRFilterCopy(id0) : QShPtrFLE();
    int row1 = row0;
    QShPtrFLE copy1;
    if (doubleBoard && !m_linked.load()) {
        const quint32 id1 = m_zun->GetActiveFilterIndex(2);
        row1 = GetFIRFilterPos(id1);
        copy1 = row1 >= 0 ? GetFIRFilterCopy(id1) : QShPtrFLE();
    }
    QShPtrFLE a0, a1;
    {
        QMutexLocker data(&m_dataLock);
        if (copy0)
            m_active[0] = copy0;
        if (doubleBoard) {
            if (m_linked.load())
                m_active[1] = m_active[0];
            else if (copy1)
                m_active[1] = copy1;
        }
        a0 = m_active[0];
        a1 = m_active[1];
    }
    emit signal_FIRFilterChanged(1, a0, row0);
    if (doubleBoard)
        emit signal_FIRFilterChanged(2, a1, row1);
}

void CZunFIRLimManager::UpdateFirModel(QMap<quint32, QStringList> setupsByFir)
{
    QHash<uint, QString> tips;
    {
        QMutexLocker lock(&m_mutex);
        {
            QMutexLocker data(&m_dataLock);
            m_setupsByFir = setupsByFir;
        }
        for (const QShPtrFLE& s : qAsConst(m_sets))
            tips.insert(s->getKey(), s->getInfoHtml(setupsByFir.value(s->getKey())));
    }
    postModel([tips](QStandardItemModel* m) {
        for (int row = 0; row < m->rowCount(); ++row) {
            QStandardItem* item = m->item(row, 0);
            const uint id = item->data(Qt::UserRole).toUInt();
            if (tips.contains(id))
                item->setData(tips.value(id), Qt::ToolTipRole);
        }
    });
}

void CZunFIRLimManager::allToFile(QString folder, QStringList* failed)
{
    guarded([&]() {
        QList<QShPtrFLE> sets;
        {
            QMutexLocker data(&m_dataLock);
            sets = m_sets;
        }
        for (const QShPtrFLE& s : qAsConst(sets)) {
            try {
                s->toFile(folder, true);
            } catch (const std::exception& e) {
                if (!failed)
                    throw;
                *failed << QString::fromStdString(e.what());
            }
        }
    });
}

void CZunFIRLimManager::fromDir(QString folder)
{
    guarded([&]() { importDir(folder); });
}

void CZunFIRLimManager::importDir(const QString& folder)
{
    CMemoryManager* mem = m_zun->GetMemoryManager();
    QMutexLocker lock(&m_mutex);
    QStringList filters{QStringLiteral("*.fir")};
    if (QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).value(QStringLiteral("xmlFir")).toBool())
        filters << QStringLiteral("*.xml");
    const QFileInfoList files = QDir(folder).entryInfoList(filters, QDir::Files, QDir::NoSort);
    for (const QFileInfo& fi : files) {
        const auto set = QShPtrFLE::create(this, fi.absoluteFilePath(), FileSampleRate);
        const quint32 id = set->getKey();
        if (mem->hasFilterId(id) || !setupsUsing(id).isEmpty() || skippedWithoutLink(m_zun, fi.fileName()))
            continue;
        uploadSet(set, 0);
    }
    for (const QShPtrFLE& s : qAsConst(m_sets))
        cacheSet(s);
}

// The sets of a garbage collection's backup are the processor's own, and after the erase
// the backup is their only copy: each goes back, whatever a setup says of it, and one that
// can not be read or stored stops none of the others. Returns "file: reason" of each set
// not sent; the collection names them in its one message.
QStringList CZunFIRLimManager::restoreDir(QString folder, QStringList files)
{
    QStringList failed;
    {
        CMemoryManager* mem = m_zun->GetMemoryManager();
        QMutexLocker lock(&m_mutex);
        const QDir dir(folder);
        for (const QString& f : dir.entryList({QStringLiteral("*.fir")}, QDir::Files, QDir::Name)) {
            if (!files.contains(f))
                continue;
            try {
                const auto set = QShPtrFLE::create(this, dir.absoluteFilePath(f), FileSampleRate);
                if (!mem->hasFilterId(set->getKey()))
                    uploadSet(set, 0);
            } catch (const std::exception& e) {
                failed << QStringLiteral("%1: %2").arg(f, QString::fromStdString(e.what()));
            }
        }
    }
    for (const QShPtrFLE& s : qAsConst(m_sets))
        cacheSet(s);
    return failed;
}

// --- activation ------------------------------------------------------------------------------

// Completion slots keep running while we wait. A slow processor's transfers take as long
// as they take (the link's deadlines bound each reply): the time limit counts only while
// the link carries nothing, and starts again only when a transfer ends (the keep-alive's
// commands are no progress). A lost link ends the wait, and the activation with it: the
// link's own message has told the operator, the log says what was not activated.
bool CZunFIRLimManager::waitForTransfers()
{
    const bool linked = m_zun->IsConnected();
    auto pending = [this]() { return quint64(m_pendingDownloads.load()) + m_pendingUploads.load(); };
    quint64 left = pending();
    for (int round = 0; upDownLoadsInProgress(); ZunWaitMs(5)) {
        const quint64 now = pending();
        if (now < left)
            round = 0;
        left = now;
        if (m_zun->GetLink()->getCmdBuffer()->isIdle())
            ++round;
        if (round > WaitRounds)
            throw error(QStringLiteral("Could not activate FIR filter due to active down- or uploads. "
                                       "Please try to disconnect and reconnect"));
    }
    if (!linked || m_zun->IsConnected())
        return true;
    emit m_zun->signal_LogMessage(QStringLiteral("The FIR filter was not activated: the link to the processor was lost."),
                                  true);
    return false;
}

void CZunFIRLimManager::oneActivationAtATime(std::function<void()> activation)
{
    if (m_activating) {
        m_laterActivations.append(std::move(activation));
        return;
    }
    m_activating = true;
    for (;;) {
        activation();
        if (m_laterActivations.isEmpty())
            break;
        activation = m_laterActivations.takeFirst();
    }
    m_activating = false;
}

void CZunFIRLimManager::ActivateFIRFilter(ulong id, quint16 dsp)
{
    oneActivationAtATime([this, id, dsp]() { guarded([&]() { loadSet(quint32(id), dsp); }); });
}

bool CZunFIRLimManager::loadSet(quint32 key, quint16 dsp)
{
    if (!waitForTransfers())
        return false;
    if (GetFIRFilterPos(key) < 0)
        return false;
    CZunMetaCmd meta;
    if (dsp == 0 || dsp == 1) {
        meta.appendCmd(nr("Cmd_0_FIR_ID0"), quint16(key & 0xFFFF));
        meta.appendCmd(nr("Cmd_0_FIR_ID1"), quint16(key >> 16));
        meta.appendCmd(nr("Cmd_0_DSP_LoadKoef"), nr("ID_FAI_Ctrl_r"));
    }
    if (dsp == 0 || dsp == 2) {
        meta.appendCmd(nr("Cmd_1_FIR_ID0"), quint16(key & 0xFFFF));
        meta.appendCmd(nr("Cmd_1_FIR_ID1"), quint16(key >> 16));
        meta.appendCmd(nr("Cmd_1_DSP_LoadKoef"), nr("ID_FAI_Ctrl_r"));
    }
    if (meta.isEmpty())
        return false;
    meta.setSupersede(false);
    // The answers that will come: a single board answers for DSP 1 alone.
    const quint32 answers = (dsp == 0 || dsp == 1 ? 1 : 0)
                          + ((dsp == 0 || dsp == 2) && m_zun->GetHardwareInfo().isDoubleBoard() ? 1 : 0);
    if (m_loadsAwaited.load() == 0) {
        m_runs[0] = m_zun->GetActiveFilterIndex(1);
        m_runs[1] = m_zun->GetActiveFilterIndex(2);
    }
    for (const int d : {0, 1})
        if (dsp == 0 || dsp == d + 1) {
            m_sent[d] = key;
            m_sentOnLink[d] = m_linkEnds;
            m_sentOnConnection[d] = m_zun->GetLink()->connections();
        }
    m_loadsAwaited += answers;
    if (m_zun->SendMetaCmd(meta) == 0)
        return true;
    for (quint32 i = 0; i < answers; ++i)
        decrement(m_loadsAwaited);
    return false;
}

void CZunFIRLimManager::ActivateFIRFilter(quint32 id0, ZunC::CopyFIRCoeffsMode mode0, quint32 id1,
                                          ZunC::CopyFIRCoeffsMode mode1)
{
    oneActivationAtATime([this, id0, mode0, id1, mode1]() {
        bool loading = false;
        guarded([&]() { loading = activate(id0, int(mode0), id1, int(mode1)); });
        // No set was sent to a DSP (skipped, refused before sending, or the link gone): no
        // signal_FIRFilterSelect will answer this activation.
        if (!loading)
            emit signal_ActivationUnanswered();
        else
            emit signal_ActivationSent();
        decrement(m_activationsAsked);
    });
}

bool CZunFIRLimManager::activate(quint32 id0, int mode0, quint32 id1, int mode1)
{
    if (!waitForTransfers())
        return false;
    if (m_zun->GetStatusBuffer()->isLinked()) {
        id1 = id0;
        mode1 = mode0;
    }
    QShPtrFLE set[2] = {GetActiveFIRFilter(1), GetActiveFIRFilter(2)};
    quint16 program[2] = {m_zun->GetActiveDSPProgramID(1), m_zun->GetActiveDSPProgramID(2)};
    const quint32 ids[2] = {id0, id1};
    const int modes[2] = {mode0, mode1};
    // Both resource checks before anything is sent: a set that cannot run changes nothing.
    for (int d = 0; d < 2; ++d) {
        if (ids[d] != KeepSet)
            set[d] = GetFIRFilter(ids[d]);
        if (!set[d])
            continue;
        // Determined on a copy: the listed set's bytes must stay those its id was made from.
        CBlockFIR probe = *set[d];
        if (probe.dspProgramId() == 0)
            probe.checkFilterResources();
        // A kept copy mode needs the program of the mode the DSP runs now.
        const int mode = modes[d] == ZunC::Unchanged ? int(m_zun->CopyFIRCoeffsMode(d + 1)) : modes[d];
        program[d] = ZunDSPProgramInfo::linkedProgID(mode, probe.dspProgramId());
    }
    if (mode0 != ZunC::Unchanged)
        m_zun->SetCopyFIRCoeffs(1, ZunC::CopyFIRCoeffsMode(mode0));
    if (mode1 != ZunC::Unchanged)
        m_zun->SetCopyFIRCoeffs(2, ZunC::CopyFIRCoeffsMode(mode1));
    const bool boot = !m_zun->GetDSPProgramManager()->isRunning(program[0], program[1]);
    m_zun->ActivateDSPProgram(program[0], program[1]);
    ZunWaitMs(m_bootPauseMs.load());
    // A DSP whose set is kept is loaded again only after a boot: otherwise it goes on
    // running its coefficients (copied ones included) untouched.
    bool loading = false;
    if (set[0] && (ids[0] != KeepSet || boot))
        loading = loadSet(set[0]->getKey(), 1);
    if (m_zun->GetHardwareInfo().isDoubleBoard() && set[1] && (ids[1] != KeepSet || boot))
        loading = loadSet(set[1]->getKey(), 2) || loading;
    return loading;
}

void CZunFIRLimManager::on_FIRFilterSelect(bool ok, int dsp, uint id)
{
    if (dsp != 1 && dsp != 2)
        return;
    decrement(m_loadsAwaited);
    if (ok)
        m_runs[dsp - 1] = id;
    const int row = GetFIRFilterPos(id);
    const bool shared = dsp == 2 && m_linked.load();
    const QShPtrFLE copy = row >= 0 && !shared ? GetFIRFilterCopy(id) : QShPtrFLE();
    QShPtrFLE active;
    {
        QMutexLocker data(&m_dataLock);
        if (row >= 0)
            m_active[dsp - 1] = shared ? m_active[0] : copy;
        active = m_active[dsp - 1];
    }
    emit signal_FIRFilterChanged(dsp, active, row);
    if (!ok)
        emit m_zun->signal_exception(QStringLiteral("Error occurred, possibly, the correct DSP program is not present "
                                                    "in Zun. Filter reverted to old status"),
                                     QStringLiteral("ZunControl"));
}

void CZunFIRLimManager::on_Unanswered(quint16 cmd, quint16, bool wentOut)
{
    const bool dsp1 = cmd == nr("Cmd_0_DSP_LoadKoef");
    if (!dsp1 && !(cmd == nr("Cmd_1_DSP_LoadKoef") && m_zun->GetHardwareInfo().isDoubleBoard()))
        return;
    const int d = dsp1 ? 0 : 1;
    // A load of a link that has ended since (its commands may be told after the next one's
    // image was read): that end counted it off.
    if (m_sentOnLink[d] != m_linkEnds)
        return;
    decrement(m_loadsAwaited);
    // Gone out, its answer lost with the link, or dropped with a link that ended (told here
    // perhaps only once the next one is up, before its end was): the next connection reads
    // what runs, and names again what a cut activation left.
    if (wentOut || !m_zun->IsConnected() || m_sentOnConnection[d] != m_zun->GetLink()->connections())
        return;
    if (!m_droppedLoads.contains(d))
        m_droppedLoads << d;
    // The words of the pair that went (the first alone, or both) name the set asked for.
    CZunMetaCmd meta;
    meta.appendCmd(nr(dsp1 ? "Cmd_0_FIR_ID0" : "Cmd_1_FIR_ID0"), quint16(m_runs[d] & 0xFFFF));
    meta.appendCmd(nr(dsp1 ? "Cmd_0_FIR_ID1" : "Cmd_1_FIR_ID1"), quint16(m_runs[d] >> 16));
    meta.setSupersede(false);
    m_zun->SendMetaCmd(meta);
    // The selection shows again what the DSP runs.
    QShPtrFLE active;
    {
        QMutexLocker data(&m_dataLock);
        active = m_active[d];
    }
    emit signal_FIRFilterChanged(d + 1, active, active ? GetFIRFilterPos(active->getKey()) : -1);
    if (m_loadsAwaited.load() != 0)
        return; // the other DSP's answer is still to come: one box for the activation
    auto hex = [](quint32 id) { return QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0')); };
    QStringList lines;
    for (const int dsp : qAsConst(m_droppedLoads))
        lines << tr("The FIR/limiter set %1 was not activated on DSP %2, which runs %3 as before.")
                     .arg(hex(m_sent[dsp]))
                     .arg(dsp + 1)
                     .arg(m_runs[dsp] == 0 ? tr("no set") : tr("the set %1").arg(hex(m_runs[dsp])));
    m_droppedLoads.clear();
    emit m_zun->signal_exception(lines.join(QLatin1Char('\n'))
                                     + tr("\nThe processor refused a block just before, and the commands waiting "
                                          "behind it were not sent. Choose the set again."),
                                 tr("FIR/limiter set not activated"));
}

bool CZunFIRLimManager::SubmitLimiter()
{
    QShPtrFLE active[2];
    {
        QMutexLocker data(&m_dataLock);
        active[0] = m_active[0];
        active[1] = m_active[1];
    }
    // The stored set is a copy: the table goes on editing its own object, and the list
    // never holds an object that another thread writes.
    auto copy = [this](const QShPtrFLE& set) {
        if (!set)
            return QShPtrFLE();
        auto c = QShPtrFLE::create(this, set->toByteArray());
        c->SetName(set->GetName());
        c->setLimiterModified(set->limiterModified());
        return c;
    };
    const QShPtrFLE c0 = copy(active[0]);
    const QShPtrFLE c1 = active[1] == active[0] ? c0 : copy(active[1]);
    return QMetaObject::invokeMethod(this, "UpdateLimiter", Qt::QueuedConnection, Q_ARG(QShPtrFLE, c0),
                                     Q_ARG(QShPtrFLE, c1));
}

void CZunFIRLimManager::UpdateLimiter(QShPtrFLE set0, QShPtrFLE set1)
{
    oneActivationAtATime([this, set0, set1]() { guarded([&]() { updateLimiter(set0, set1); }); });
}

void CZunFIRLimManager::updateLimiter(const QShPtrFLE& a0, const QShPtrFLE& a1)
{
    // A set that others use (a setup, or the other DSP) is stored as a new set.
    auto store = [this](const QShPtrFLE& set, quint32 id, bool shared) {
        if (shared) {
            set->makeUniqueName();
            set->computeKey();
            uploadSet(set, 0);
        } else {
            set->computeKey();
            uploadSet(set, id);
        }
    };
    if (!m_linked.load() && !m_zun->GetStatusBuffer()->isLinked()) {
        const quint32 id0 = m_zun->GetActiveFilterIndex(1);
        const quint32 id1 = m_zun->GetActiveFilterIndex(2);
        if (a0 && a0->limiterModified())
            store(a0, id0, id0 != 0 && (!setupsUsing(id0).isEmpty() || id0 == id1));
        if (m_zun->GetHardwareInfo().isDoubleBoard()) {
            if (a1 && a1->limiterModified())
                store(a1, id1, id1 != 0 && (!setupsUsing(id1).isEmpty() || id0 == id1));
            activate(a0 ? a0->getKey() : KeepSet, ZunC::Unchanged, a1 ? a1->getKey() : KeepSet, ZunC::Unchanged);
        } else {
            activate(a0 ? a0->getKey() : KeepSet, ZunC::Unchanged, KeepSet, ZunC::Unchanged);
        }
    } else if (a0 && a0->limiterModified()) {
        const quint32 id = m_zun->GetActiveFilterIndex(0);
        store(a0, id, !setupsUsing(id).isEmpty());
        activate(a0->getKey(), ZunC::Unchanged, a0->getKey(), ZunC::Unchanged);
    }
}

void CZunFIRLimManager::SetFirFiltersLinked(bool linked)
{
    // Called from the GUI thread: the flag now, the reconciliation in the manager's thread.
    m_linked.store(linked);
    QMetaObject::invokeMethod(
        this,
        [this, linked]() {
            guarded([this, linked]() {
                const QShPtrFLE cur0 = GetActiveFIRFilter(1);
                const QShPtrFLE cur1 = GetActiveFIRFilter(2);
                if (linked) {
                    QShPtrFLE shared;
                    {
                        QMutexLocker data(&m_dataLock);
                        if ((cur0 && cur0 == cur1 && m_active[0] == m_active[1]) || !cur0) {
                            emit signal_FirFiltersLinked(true);
                            return;
                        }
                        m_active[1] = m_active[0];
                        shared = m_active[1];
                    }
                    emit signal_FIRFilterChanged(2, shared, GetFIRFilterPos(cur0->getKey()));
                    activate(KeepSet, ZunC::Unchanged, cur0->getKey(), m_zun->CopyFIRCoeffsMode(1));
                    emit signal_FirFiltersLinked(true);
                } else {
                    QShPtrFLE a0, a1;
                    const QShPtrFLE copy0 = cur0 ? GetFIRFilterCopy(cur0->getKey()) : QShPtrFLE();
                    const QShPtrFLE copy1 = cur1 ? GetFIRFilterCopy(cur1->getKey()) : QShPtrFLE();
                    {
                        QMutexLocker data(&m_dataLock);
                        if (copy0)
                            m_active[0] = copy0;
                        if (copy1)
                            m_active[1] = copy1;
                        a0 = m_active[0];
                        a1 = m_active[1];
                    }
                    emit signal_FirFiltersLinked(false);
                    emit signal_FIRFilterChanged(1, a0, cur0 ? GetFIRFilterPos(cur0->getKey()) : -1);
                    emit signal_FIRFilterChanged(2, a1, cur1 ? GetFIRFilterPos(cur1->getKey()) : -1);
                }
            });
        },
        Qt::QueuedConnection);
}
