#include "CZunSetupManager.h"

#include "CCmdMap.h"
#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunMetaCmd.h"
#include "CZunStatusBuffer.h"
#include "ZunBlockFailures.h"
#include "ZunCrc16.h"
#include "ZunSetup.h"
#include "ZunWaitingCall.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QStandardItemModel>
#include <QThread>
#include <QTimer>

#include <stdexcept>
#include <utility>

const char* const CZunSetupManager::EmptyRowText = "---                    ";

namespace
{
constexpr quint16 BlockWrite = 0xFF00;

bool noSetup(int position) { return position == 0xCDEF || position == 255 || position == 254; }

[[noreturn]] void fail(const QString& text) { throw std::logic_error(text.toStdString()); }
} // namespace

CZunSetupManager::CZunSetupManager(CZun* zun)
    : m_zun(zun), m_map(zun->GetCmdMap()), m_model(new QStandardItemModel()), m_lock(new QRecursiveMutex()),
      m_transferLock(new QRecursiveMutex())
{
    // UploadSetup(ZunSetup*, int) and AddSetupToList are reachable by name.
    qRegisterMetaType<ZunSetup*>("ZunSetup*");
    // The model stays in the device object's thread when the manager moves to its worker.
    m_model->moveToThread(zun->thread());
    CZunStatusBuffer* image = zun->GetStatusBuffer();
    connect(image, &CZunStatusBuffer::signal_SetupSelect, this, &CZunSetupManager::on_SetupSelect, Qt::QueuedConnection);
    connect(image, &CZunStatusBuffer::signal_SetupDownloaded, this, &CZunSetupManager::on_SetupDownloaded,
            Qt::QueuedConnection);
    connect(image, &CZunStatusBuffer::signal_StoreRefused, this, &CZunSetupManager::on_StoreRefused,
            Qt::QueuedConnection);
    connect(image, &CZunStatusBuffer::signal_SetupUploaded, this, &CZunSetupManager::on_SetupUploaded,
            Qt::QueuedConnection);
    connect(image, &CZunStatusBuffer::signal_SetupModified, this, &CZunSetupManager::on_SetupModified,
            Qt::QueuedConnection);
    zunConnectWaiting(zun, &CZun::signal_UploadSetup, this, qOverload<QString, int>(&CZunSetupManager::UploadSetup));
    zunConnectWaiting(zun, &CZun::signal_RemoveSetup, this, &CZunSetupManager::RemoveSetup);
    connect(zun, &CZun::signal_Disconnected, this, &CZunSetupManager::on_Disconnected, Qt::QueuedConnection);
    forwardFailedBlockWrites(zun->GetLink(), this);
}

CZunSetupManager::~CZunSetupManager()
{
    // A transfer cut by the quit still holds the lock; its completion never comes.
    for (auto it = m_holds.cbegin(); it != m_holds.cend(); ++it)
        for (int i = 0; i < it.value(); ++i)
            m_transferLock->unlock();
    qDeleteAll(m_owned);
    delete m_model;
    delete m_lock;
    delete m_transferLock;
}

quint16 CZunSetupManager::nr(const char* name) const { return m_map->getCmdNr(name); }

void CZunSetupManager::guarded(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        const QString text = QString::fromStdString(e.what());
        qWarning().noquote() << "CZunSetupManager:" << text;
        emit m_zun->signal_exception(text, QStringLiteral("ZunControl"));
    }
}

// Only a copy (the flash holds the setup): one that can not be written (a full disk) goes
// to the log, not into a box at every download.
void CZunSetupManager::cacheSetup(ZunSetup* setup, int position)
{
    const QString folder = m_zun->GetLogFolder();
    if (!setup || folder.isEmpty())
        return;
    try {
        setup->toFile(folder, position);
    } catch (const std::exception& e) {
        emit m_zun->signal_LogMessage(QString::fromStdString(e.what()) + QLatin1Char('\n'), true);
    }
}

int CZunSetupManager::listSize() const
{
    QMutexLocker lock(m_lock);
    return m_setups.size();
}

void CZunSetupManager::checkPosition(int position) const
{
    if (position < 0 || position >= m_setups.size())
        fail(QStringLiteral("CZunSetupManager: Invalid setup position %1 (the processor has %2 setup positions).")
                 .arg(position)
                 .arg(m_setups.size()));
}

// --- holds of the lock that span a transfer -------------------------------------------

void CZunSetupManager::takeHold(HoldKind kind, int position)
{
    m_transferLock->lock();
    ++m_holds[kind << 16 | (position & 0xFFFF)];
}

bool CZunSetupManager::tryTakeHold(HoldKind kind, int position)
{
    if (!m_transferLock->tryLock())
        return false;
    ++m_holds[kind << 16 | (position & 0xFFFF)];
    return true;
}

// Releases a hold only when one was taken for this transfer: a completion without a hold
// (a try-lock that failed, a reply nobody asked for) must not unlock someone else's.
bool CZunSetupManager::releaseHold(HoldKind kind, int position)
{
    const int key = kind << 16 | (position & 0xFFFF);
    auto it = m_holds.find(key);
    if (it == m_holds.end())
        return false;
    if (--it.value() == 0)
        m_holds.erase(it);
    m_transferLock->unlock();
    return true;
}

void CZunSetupManager::sendHeld(const CZunMetaCmd& meta, HoldKind kind, int position)
{
    if (m_zun->SendMetaCmd(meta) == 0)
        return;
    releaseHold(kind, position);
    fail(QStringLiteral("Zun nr. %1 is not connected; the setup at position %2 was not %3.")
             .arg(m_zun->GetNr())
             .arg(position)
             .arg(kind == Removal ? QStringLiteral("removed") : QStringLiteral("stored")));
}

void CZunSetupManager::on_Disconnected()
{
    m_storeTries.clear();
    ++m_links;
    guarded([&]() {
        CMemoryManager* mm = m_zun->GetMemoryManager();
        for (auto it = m_holds.begin(); it != m_holds.end(); it = m_holds.erase(it)) {
            const int position = it.key() & 0xFFFF;
            QStringList names; // of the uploads to this position, in the order they were sent
            for (const UploadInFlight& upload : qAsConst(m_uploadBlocks))
                if (upload.position == position)
                    names << upload.name;
            for (int n = 0; n < it.value(); ++n) {
                m_transferLock->unlock();
                if (it.key() >> 16 != Upload)
                    continue;
                mm->decTransfers();
                const QString name = names.value(n);
                emit m_zun->signal_LogMessage(
                    (name.isEmpty() ? QStringLiteral("A setup without a name was not stored at position %2: the link "
                                                     "to the processor was lost.")
                                    : QStringLiteral("Setup %1 was not stored at position %2: the link to the "
                                                     "processor was lost."))
                        .arg(name)
                        .arg(position),
                    true);
            }
        }
        m_pendingUploads = 0;
        m_pendingDownloads = 0;
        m_uploadBlocks.clear();
        m_listedBefore.clear();
        // A removal the processor never confirmed removed nothing: the next directory
        // shows the setup again.
        m_removing.clear();
    });
}

// --- model ------------------------------------------------------------------------------

void CZunSetupManager::modelReset(int rows)
{
    QStandardItemModel* model = m_model;
    QMetaObject::invokeMethod(model, [model, rows]() {
        model->clear();
        for (int p = 0; p < rows; ++p)
            model->appendRow(new QStandardItem(QString::fromLatin1(EmptyRowText)));
    });
}

void CZunSetupManager::modelRow(int row, const QString& text, const QVariant& id, bool icon)
{
    QStandardItemModel* model = m_model;
    QMetaObject::invokeMethod(model, [model, row, text, id, icon]() {
        if (row < 0)
            return;
        while (model->rowCount() <= row)
            model->appendRow(new QStandardItem(QString::fromLatin1(EmptyRowText)));
        auto* item = new QStandardItem(text);
        item->setData(id, Qt::UserRole);
        if (icon && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            item->setData(QIcon(QStringLiteral(":/resources/images/save.png")), Qt::DecorationRole);
        model->setItem(row, 0, item);
    });
}

void CZunSetupManager::modelIcon(int row, bool icon, bool all)
{
    QStandardItemModel* model = m_model;
    QMetaObject::invokeMethod(model, [model, row, icon, all]() {
        const bool gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
        for (int r = all ? 0 : row; r < (all ? model->rowCount() : row + 1); ++r) {
            QStandardItem* item = model->item(r, 0);
            if (!item)
                continue;
            if (icon && gui)
                item->setData(QIcon(QStringLiteral(":/resources/images/save.png")), Qt::DecorationRole);
            else
                item->setData(QVariant(), Qt::DecorationRole);
        }
    });
}

// --- queries ---------------------------------------------------------------------------

ZunSetup* CZunSetupManager::GetSetup(int position) const
{
    // Wait for outstanding transfers, but never for ever, and never in the device object's
    // (GUI) thread: its title and pages read the list as it is.
    if (QThread::currentThread() != m_zun->thread()) {
        if (m_transferLock->tryLock(TransferWaitMs))
            m_transferLock->unlock();
        else
            qWarning() << "CZunSetupManager: a setup transfer did not complete in time; reading the list as it is";
    }
    QMutexLocker lock(m_lock);
    if (noSetup(position))
        return nullptr;
    if (position < 0 || position >= m_setups.size())
        throw std::logic_error("CZunSetupManager: Invalid setup position selected, maybe setup is invalid");
    return m_setups.at(position).data();
}

QStringList CZunSetupManager::GetSetupsUsingFir(quint32 id) const
{
    QMutexLocker lock(m_lock);
    QStringList names;
    for (const QPointer<ZunSetup>& s : m_setups)
        if (s && (s->GetActiveFilterIndex(1) == id || s->GetActiveFilterIndex(2) == id))
            names << s->GetSetupName();
    return names;
}

bool CZunSetupManager::IsFirUsed(quint32 id) const
{
    QMutexLocker lock(m_lock);
    for (const QPointer<ZunSetup>& s : m_setups)
        if (s && (s->GetActiveFilterIndex(1) == id || s->GetActiveFilterIndex(2) == id))
            return true;
    return false;
}

bool CZunSetupManager::IsFirUsed(QShPtrFLE set) const { return set && IsFirUsed(set->getKey()); }

// --- list --------------------------------------------------------------------------------

void CZunSetupManager::adopt(ZunSetup* setup)
{
    QMutexLocker lock(m_lock);
    if (setup && !m_owned.contains(setup))
        m_owned.append(setup);
}

void CZunSetupManager::emitFirMap()
{
    QMap<quint32, QStringList> map;
    {
        QMutexLocker lock(m_lock);
        for (const QPointer<ZunSetup>& s : m_setups) {
            if (!s)
                continue;
            const quint32 id = s->GetActiveFilterIndex(1);
            if (!map.contains(id))
                map.insert(id, GetSetupsUsingFir(id));
        }
    }
    emit signal_MapFirSetupsRefreshed(map);
}

void CZunSetupManager::addToList(int position, ZunSetup* setup, bool refreshFirMap)
{
    {
        QMutexLocker lock(m_lock);
        adopt(setup);
        checkPosition(position);
        m_setups[position] = setup;
        const bool icon = position == int(m_zun->GetActiveSetup()) && m_zun->IsSetupModified();
        modelRow(position, setup ? setup->GetSetupName() : QString::fromLatin1(EmptyRowText),
                 setup ? QVariant(m_zun->GetMemoryManager()->setupIdAt(position)) : QVariant(), icon);
    }
    if (refreshFirMap)
        emitFirMap();
}

void CZunSetupManager::AddSetupToList(int position, ZunSetup* setup)
{
    guarded([&]() { addToList(position, setup); });
}

void CZunSetupManager::on_StoreRefused(quint16 kind, quint16 code)
{
    if (kind == nr("ID_List_Setup"))
        m_refusal = code;
}

bool CZunSetupManager::sendDownload(int position)
{
    CZunMetaCmd meta(nr("Cmd_MemID2"), nr("ID_List_Setup"));
    meta.appendCmd(nr("Cmd_MemID0"), quint16(position));
    meta.appendCmd(nr("Cmd_MemCopy"), quint16(nr("ID_FAI_Ctrl_r") + nr("CmdS_CopyF2RxTxBuf")));
    meta.appendCmd(nr("ID_TX_Block"), nr("ID_Block_Flash"));
    // Every position's download has the same commands: one waiting in a busy link
    // must not be replaced by the next position's.
    meta.setSupersede(false);
    // A hundred of them on a slow link take long: the operator's edits go first.
    meta.setBackground(true);
    return m_zun->SendMetaCmd(meta) == 0;
}

QList<int> CZunSetupManager::verifyStores()
{
    CMemoryManager* mm = m_zun->GetMemoryManager();
    QList<int> resend;
    const QList<int> positions = m_unverified.keys();
    for (const int p : positions) {
        // Still on its way (or sent again), or the directory was read before its answer:
        // a later directory tells.
        const Unverified store = m_unverified.value(p);
        if (m_holds.contains(int(Upload) << 16 | p) || mm->storesAnsweredBefore() < store.answeredAt)
            continue;
        if (mm->setupIdAt(p) == store.id || !store.setup) {
            m_unverified.remove(p);
            m_storeTries.forget(p);
            continue;
        }
        const QString name = store.setup->GetSetupName().trimmed();
        if (!m_storeTries.sendAgain(p)) {
            m_unverified.remove(p);
            emit m_zun->signal_exception(
                QStringLiteral("The setup %1 was sent to position %2 three times, and each time the processor stored "
                               "something else there (another program used it meanwhile). The setup is not stored: "
                               "upload it again.")
                    .arg(name)
                    .arg(p),
                QStringLiteral("Setup not stored"));
            continue;
        }
        emit m_zun->signal_LogMessage(QStringLiteral("The processor stored something else in place of the setup %1 at "
                                                     "position %2 (another program used it meanwhile): the setup is "
                                                     "sent again.")
                                          .arg(name)
                                          .arg(p),
                                      true);
        resend << p;
    }
    return resend;
}

void CZunSetupManager::initialize()
{
    QList<int> resend;
    guarded([&]() {
        CMemoryManager* mm = m_zun->GetMemoryManager();
        QMutexLocker lock(m_lock);
        // Uploads still on their way keep their count: each is counted off when it ends
        // (or when the link goes).
        m_pendingDownloads = 0;
        const int n = mm->setupListSize();
        if (m_setups.size() != n) {
            m_setups.clear();
            for (int p = 0; p < n; ++p)
                m_setups.append(QPointer<ZunSetup>());
            modelReset(n);
        }
        const QString folder = m_zun->GetLogFolder();
        if (!folder.isEmpty()) {
            QDir dir(folder);
            const QStringList files =
                dir.entryList({QStringLiteral("Set*.zun")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
            for (const QString& f : files) {
                const QString path = dir.absoluteFilePath(f);
                const int p = ZunSetup::numberFromFileName(QFileInfo(f).completeBaseName());
                if (mm->setupIdAt(p) == 0 || p >= n) {
                    QFile::remove(path);
                    continue;
                }
                if (m_removing.contains(p))
                    continue; // a directory read before the deletion still lists it
                try {
                    // A copy on disk: it stands for the download only when it is the setup
                    // the flash lists there, and nothing it carries goes to the processor.
                    auto* setup = new ZunSetup(m_zun, path);
                    adopt(setup);
                    if (setup->GetCRC() != mm->setupIdAt(p)) {
                        QFile::remove(path);
                        continue;
                    }
                    addToList(p, setup, false);
                } catch (const std::exception& e) {
                    qWarning().noquote() << "CZunSetupManager: cached setup" << path << "dropped:" << e.what();
                    QFile::remove(path);
                }
            }
        }
        resend = verifyStores();
        m_rereads.clear();
        for (int p = 0; p < n; ++p) {
            const quint32 id = mm->setupIdAt(p);
            if (resend.contains(p))
                continue; // what the processor holds there now is replaced at once
            if (m_setups.at(p)) {
                if (m_setups.at(p)->GetCRC() == id)
                    continue;
                m_setups[p] = nullptr;
                modelRow(p, QString::fromLatin1(EmptyRowText), QVariant(), false);
            }
            if (id == 0) {
                m_removing.remove(p);
                continue;
            }
            if (m_removing.contains(p))
                continue;
            // One hold per position: a download still on its way is not held twice (its
            // one reply would leave the second hold taken for good).
            if (!m_holds.contains(int(Download) << 16 | p))
                tryTakeHold(Download, p);
            ++m_pendingDownloads;
            sendDownload(p);
        }
    });
    for (const int p : qAsConst(resend)) {
        const Unverified store = m_unverified.take(p);
        resendLater(p, store.setup, m_archives.contains(store.id), QPointer<ZunSetup>());
    }
    m_unsettled = m_unverified.size();
    emitFirMap();
    // An active setup still on its way (one just stored) is named when its download ends.
    if (m_pendingDownloads == 0 || !activeSetupName().isEmpty())
        emit signal_SetupChanged(m_zun->GetActiveSetup(), activeSetupName());
}

QString CZunSetupManager::activeSetupName() const
{
    // Read from the list directly: GetSetup would wait for the transfer this thread holds.
    QMutexLocker lock(m_lock);
    const int p = m_zun->GetActiveSetup();
    if (p < 0 || p >= m_setups.size() || !m_setups.at(p))
        return QString();
    return m_setups.at(p)->GetSetupName();
}

void CZunSetupManager::on_SetupDownloaded(int position, QByteArray data)
{
    guarded([&]() {
        ZunSetup* setup = nullptr;
        if (!data.isEmpty()) {
            try {
                setup = new ZunSetup(m_zun, data);
                adopt(setup);
            } catch (const std::exception& e) {
                qWarning().noquote() << "CZunSetupManager: setup" << position << "not read:" << e.what();
                setup = nullptr;
            }
        }
        // Another client's block may have taken the processor's one transfer buffer between
        // the copy and the read: what was not asked for is read again, twice at most.
        const quint32 held = m_zun->GetMemoryManager()->setupIdAt(position);
        if ((!setup || (setup->GetCRC() != held && ZunCrc16(data) != held)) && held != 0
            && m_holds.contains(int(Download) << 16 | position) && ++m_rereads[position] <= 2 && sendDownload(position))
            return;
        m_rereads.remove(position);
        const bool ours = releaseHold(Download, position);
        bool listed = false;
        if (setup && position >= 0 && position < listSize() && !m_removing.contains(position)) {
            addToList(position, setup);
            listed = true;
        }
        if (ours || m_pendingDownloads > 0) {
            if (--m_pendingDownloads <= 0) {
                m_pendingDownloads = 0;
                emit signal_SetupChanged(m_zun->GetActiveSetup(), activeSetupName());
            }
        }
        if (listed)
            cacheSetup(setup, position);
    });
}

// --- upload ------------------------------------------------------------------------------

void CZunSetupManager::UploadSetup(QString fileName, int position)
{
    guarded([&]() {
        auto* setup = new ZunSetup(m_zun, fileName);
        adopt(setup);
        // Read before the upload hands the carried sets on.
        const QStringList odd = setup->oddities(m_zun);
        uploadSetup(setup, position, true);
        if (!odd.isEmpty())
            emit m_zun->signal_exception(QStringLiteral("The setup %1 was uploaded as it is, though it holds:\n%2")
                                             .arg(setup->GetSetupName().trimmed(), odd.join(QLatin1Char('\n'))),
                                         QStringLiteral("ZunControl"));
    });
}

void CZunSetupManager::UploadSetup(ZunSetup* setup, int position)
{
    guarded([&]() { uploadSetup(setup, position); });
}

void CZunSetupManager::uploadSetup(ZunSetup* setup, int position, bool fromFile)
{
    if (!setup)
        fail(QStringLiteral("CZunSetupManager: no setup to upload."));
    adopt(setup);
    {
        QMutexLocker lock(m_lock);
        checkPosition(position);
        m_removing.remove(position);
    }
    CMemoryManager* mm = m_zun->GetMemoryManager();
    if (!mm->canUpload())
        fail(QStringLiteral("Max capacity of flash mem reached. Setup %1 will not be uploaded.").arg(setup->GetSetupName()));
    // A recalled setup runs its words as they are: one the processor would refuse as a
    // command never reaches its flash.
    const QString bad = setup->outOfRange(m_zun);
    if (!bad.isEmpty())
        fail(QStringLiteral("The setup %1 was not uploaded: %2.").arg(setup->GetSetupName().trimmed(), bad));
    // Before the hold: a setup whose programs do not suit the DSP is refused without one.
    try {
        setup->AdaptDSPProgIDs(m_zun->GetDSPType(), m_zun->GetFirmwareVersion());
    } catch (const std::exception&) {
        fail(QStringLiteral("The setup %1 was not uploaded: %2.")
                 .arg(setup->GetSetupName().trimmed(), setup->programsRefusal()));
    }
    // Accepted: the FIR/limiter sets its archive carried go first.
    setup->uploadCarriedSets();
    takeHold(Upload, position);
    const quint16 id0 = setup->GetDSPProgID(1), id1 = setup->GetDSPProgID(2);
    m_zun->UploadDSPProgram(id0);
    if (id1 != id0)
        m_zun->UploadDSPProgram(id1);
    ZunSetup* const before = m_setups.at(position).data();
    const bool firstInFlight = !m_listedBefore.contains(position);
    if (firstInFlight)
        m_listedBefore.insert(position, before);
    {
        // Other threads read the list (the control window's title) while this one runs.
        QMutexLocker lock(m_lock);
        m_setups[position] = setup;
    }
    modelRow(position, setup->GetSetupName(), QVariant(setup->GetCRC()), false);
    const QByteArray image = setup->toByteArray();
    if (fromFile) {
        // The processor lists a setup under the checksum of its image.
        QMutexLocker lock(m_lock);
        m_archives.insert(ZunCrc16(image));
    }
    CZunMetaCmd meta(BlockWrite, quint16(image.size()), image);
    meta.appendCmd(nr("Cmd_MemID2"), nr("ID_List_Setup"));
    meta.appendCmd(nr("Cmd_MemID0"), quint16(position));
    meta.appendCmd(nr("Cmd_MemCopy"), quint16(nr("CmdS_CopyRxTxBuf2F") + nr("ID_FAI_Ctrl_w_RxTxBuf")));
    ++m_pendingUploads;
    mm->incTransfers();
    m_uploadBlocks.append({position, image, setup->GetSetupName().trimmed()});
    try {
        sendHeld(meta, Upload, position);
    } catch (const std::exception&) {
        m_uploadBlocks.removeLast();
        --m_pendingUploads;
        mm->decTransfers();
        if (firstInFlight)
            m_listedBefore.remove(position);
        addToList(position, before, false);
        throw;
    }
}

void CZunSetupManager::on_SetupUploaded(bool ok, int position)
{
    guarded([&]() {
        QByteArray sent;
        for (int i = 0; i < m_uploadBlocks.size(); ++i)
            if (m_uploadBlocks.at(i).position == position) {
                sent = m_uploadBlocks.takeAt(i).block;
                break;
            }
        const quint16 refusal = std::exchange(m_refusal, 0);
        if (!releaseHold(Upload, position))
            return;
        // Refused for what the transfer buffer held (another program's bytes, or none): sent
        // again, twice at most, before the refusal counts; counted before this upload is
        // counted off, so that nothing waiting sees the uploads end between.
        QPointer<ZunSetup> again;
        {
            QMutexLocker lock(m_lock);
            if (position >= 0 && position < m_setups.size())
                again = m_setups.at(position);
        }
        if (!ok && again && zunRefusedForTheBuffer(*m_map, refusal) && m_storeTries.sendAgain(position)) {
            emit m_zun->signal_LogMessage(QStringLiteral("The processor refused the setup %1 at position %2: its "
                                                         "transfer buffer did not hold it (another program used it "
                                                         "meanwhile). The setup is sent again.")
                                              .arg(again->GetSetupName().trimmed())
                                              .arg(position),
                                          true);
            resendLater(position, again, m_archives.contains(ZunCrc16(sent)), m_listedBefore.take(position));
            --m_pendingUploads;
            m_zun->GetMemoryManager()->decTransfers();
            return;
        }
        // A failure ends the tries; a store taken keeps them until a directory lists it
        // (verifyStores), so that a setup stored as something else is not sent for ever.
        if (!ok)
            m_storeTries.forget(position);
        // Failed or not, the transfer is over: both counters go down.
        --m_pendingUploads;
        m_zun->GetMemoryManager()->decTransfers();
        // The row was listed before the store: a refused one shows again what the
        // processor holds there.
        const QPointer<ZunSetup> before = m_listedBefore.take(position);
        if (!ok) {
            addToList(position, before.data());
            return;
        }
        ZunSetup* setup = nullptr;
        {
            QMutexLocker lock(m_lock);
            if (position >= 0 && position < m_setups.size())
                setup = m_setups.at(position).data();
        }
        // Taken: it counts once a directory lists it. The processor lists a setup under
        // the checksum of its image.
        if (setup && !sent.isEmpty())
            m_unverified.insert(position, {setup, ZunCrc16(sent), m_zun->GetStatusBuffer()->storesAnswered()});
        m_unsettled = m_unverified.size();
        cacheSetup(setup, position);
    });
}

void CZunSetupManager::resendLater(int position, QPointer<ZunSetup> setup, bool fromFile, QPointer<ZunSetup> before)
{
    ++m_pendingUploads;
    const int link = m_links;
    QTimer::singleShot(m_storeTries.pauseMs(position), this, [this, position, setup, fromFile, before, link]() {
        if (link != m_links)
            return; // the link's end counted it off
        if (setup) {
            try {
                uploadSetup(setup.data(), position, fromFile);
                if (before)
                    m_listedBefore.insert(position, before); // what the row showed before the first try
            } catch (const std::exception& e) {
                guarded([&]() { addToList(position, before.data()); });
                emit m_zun->signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
            }
        }
        --m_pendingUploads;
    });
}

void CZunSetupManager::on_BlockFailed(QByteArray payload)
{
    // A lost link ends every upload at once, naming each in the log (on_Disconnected).
    if (!m_zun->IsConnected())
        return;
    for (const auto& upload : qAsConst(m_uploadBlocks))
        if (upload.block == payload) {
            on_SetupUploaded(false, upload.position);
            return;
        }
}

// --- removal -----------------------------------------------------------------------------

void CZunSetupManager::RemoveSetup(int position)
{
    guarded([&]() { removeSetup(position); });
}

void CZunSetupManager::removeSetup(int position)
{
    if (!GetSetup(position))
        fail(QStringLiteral("Empty setups can not be deleted."));
    takeHold(Removal, position);
    ZunSetup* const before = m_setups.at(position).data();
    {
        // The entry is emptied, not taken out: the other setups keep their positions.
        QMutexLocker lock(m_lock);
        m_setups[position] = nullptr;
    }
    m_removing.insert(position);
    modelRow(position, QString::fromLatin1(EmptyRowText), QVariant(), false);
    CZunMetaCmd meta(nr("Cmd_MemID2"), nr("ID_List_Setup"));
    meta.appendCmd(nr("Cmd_MemID0"), quint16(position));
    meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_DeleteInF"));
    // A removal still waiting is never replaced by the next one: each holds its position.
    meta.setSupersede(false);
    try {
        sendHeld(meta, Removal, position);
    } catch (const std::exception&) {
        m_removing.remove(position);
        addToList(position, before, false);
        throw;
    }
}

void CZunSetupManager::on_SetupRemoved(int position)
{
    releaseHold(Removal, position);
    m_removing.remove(position);
    QMetaObject::invokeMethod(m_zun, "RefreshMemDir", Qt::QueuedConnection);
    emit signal_SetupRemoved(position);
}

// --- store and recall --------------------------------------------------------------------

void CZunSetupManager::StoreSetup(const quint16& position, QString name)
{
    CMemoryManager* mm = m_zun->GetMemoryManager();
    if (!mm->canStoreSetup())
        fail(QStringLiteral("Max capacity of flash mem reached.Setup will not be stored."));
    if (position >= mm->setupListSize())
        fail(QStringLiteral("CZunSetupManager: Invalid setup position %1 (the processor has %2 setup positions).")
                 .arg(position)
                 .arg(mm->setupListSize()));
    QMutexLocker lock(m_lock);
    // The removal marks belong to the manager's thread: queued before the store is sent,
    // the position is unmarked there before anything the store's answer starts.
    QMetaObject::invokeMethod(
        this, [this, position]() { m_removing.remove(position); },
        QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
    const QByteArray payload = CZunStatusBuffer::encodeSetupName(name);
    CZunMetaCmd meta(nr("ID_RX_Block_Start"), nr("ID_LengthSetupName"), payload);
    meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_SaveSetupName"));
    if (m_zun->GetFirmwareVersion() >= 1068)
        meta.appendCmd(nr("Cmd_SetupStore"), position);
    else
        meta.appendCmd(nr("Cmd_MemCopy"), quint16(nr("CmdS_SaveParF") + position));
    m_zun->SendMetaCmd(meta);
}

void CZunSetupManager::SelectSetup(const quint16& position)
{
    QMutexLocker lock(m_lock);
    if (m_zun->GetMemoryManager()->setupIdAt(position) == 0)
        fail(QStringLiteral("CZun::ActiveateDSPProgram(): no valid setup at this position"));
    QString warning;
    if (position < m_setups.size() && m_setups.at(position)) {
        const ZunSetup* setup = m_setups.at(position);
        const QString mismatch = setup->recallMismatch(m_zun);
        // An archive brought from a file would run its set at a rate nobody heard it at; a
        // setup the processor stored so itself (its clock changed at the front panel) runs
        // as it ran when stored.
        if (!mismatch.isEmpty() && m_archives.contains(m_zun->GetMemoryManager()->setupIdAt(position)))
            fail(QStringLiteral("The setup %1 was not recalled: %2; the DSPs would run it at the wrong rate.")
                     .arg(setup->GetSetupName().trimmed(), mismatch));
        if (!mismatch.isEmpty())
            warning = QStringLiteral("The setup %1 is recalled as the processor stored it, though %2.")
                          .arg(setup->GetSetupName().trimmed(), mismatch);
    }
    // The processor is busy loading the setup: no keep-alive until its answer, which comes
    // after this.
    if (QThread::currentThread() == m_zun->thread())
        m_zun->restKeepAliveForRecall();
    else
        QMetaObject::invokeMethod(m_zun, "restKeepAliveForRecall", Qt::QueuedConnection);
    CZunMetaCmd meta(nr("Cmd_SetupSelect"), position);
    meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf"));
    meta.appendCmd(nr("ID_TX_Block"), nr("ID_Block_Flash"));
    // Not sent (no link): no answer comes to give the keep-alive back.
    if (m_zun->SendMetaCmd(meta) != 0)
        QMetaObject::invokeMethod(m_zun, "on_RecallAnswered", Qt::QueuedConnection);
    if (!warning.isEmpty())
        emit m_zun->signal_LogMessage(warning, true);
}

void CZunSetupManager::on_SetupSelect(bool ok, int position)
{
    if (!ok)
        return;
    emit signal_SetupChanged(position, m_zun->GetActiveSetupName());
    modelIcon(0, false, true);
}

void CZunSetupManager::on_SetupModified()
{
    const int a = m_zun->GetActiveSetup();
    if (noSetup(a) || a >= listSize())
        return;
    modelIcon(a, true);
}

// --- folders -------------------------------------------------------------------------------

void CZunSetupManager::allToFile(QString folder, QStringList* failed)
{
    guarded([&]() {
        QMutexLocker lock(m_lock);
        for (int p = 0; p < m_setups.size(); ++p) {
            if (!m_setups.at(p))
                continue;
            try {
                m_setups.at(p)->toFile(folder, p);
            } catch (const std::exception& e) {
                if (!failed)
                    throw;
                *failed << QString::fromStdString(e.what());
            }
        }
    });
}

void CZunSetupManager::fromDir(QString folder)
{
    guarded([&]() {
        QMutexLocker lock(m_lock);
        QDir dir(folder);
        // Files whose name carries no position number are left out (the folder check
        // names them) and take no room in the flash.
        QList<QPair<QString, int>> files;
        for (const QString& f : dir.entryList({QStringLiteral("Set*.zun")}, QDir::Files, QDir::Name)) {
            const int p = ZunSetup::numberFromFileName(QFileInfo(f).completeBaseName());
            if (p < 0)
                qWarning().noquote() << "CZunSetupManager: setup file" << f << "names no position; skipped";
            else
                files.append({f, p});
        }
        if (m_zun->GetMemoryManager()->freeEntries() < files.size())
            fail(QStringLiteral("Nr of setups contained in %1 exceeds capacity of flash mem.").arg(folder));
        for (const auto& [f, p] : files) {
            if (p >= m_setups.size()) {
                qWarning().noquote() << "CZunSetupManager: setup file" << f << "names no valid position; skipped";
                continue;
            }
            if (skippedWithoutLink(m_zun, f))
                continue;
            auto* setup = new ZunSetup(m_zun, dir.absoluteFilePath(f));
            adopt(setup);
            uploadSetup(setup, p, true);
        }
        if (!m_zun->GetLogFolder().isEmpty())
            allToFile(m_zun->GetLogFolder());
    });
}

// The setups of a garbage collection's backup go back to their positions as the
// collection's checks found them (the same as a configuration folder's), and one that can
// not be stored stops none of the others. One already back (a restore cut by the link and
// started again) is not sent twice.
QStringList CZunSetupManager::restoreDir(QString folder, QStringList files)
{
    QStringList failed;
    {
        QMutexLocker lock(m_lock);
        const QDir dir(folder);
        for (const QString& f : dir.entryList({QStringLiteral("Set*.zun")}, QDir::Files, QDir::Name)) {
            if (!files.contains(f))
                continue;
            try {
                const int position = ZunSetup::numberFromFileName(QFileInfo(f).completeBaseName());
                if (const quint32 held = m_zun->GetMemoryManager()->setupIdAt(position)) {
                    ZunSetup backedUp(m_zun, dir.absoluteFilePath(f));
                    backedUp.AdaptDSPProgIDs(m_zun->GetDSPType(), m_zun->GetFirmwareVersion());
                    if (held == backedUp.GetCRC())
                        continue;
                    // A setup stored since the erase is newer than its backup: it stays.
                    fail(QStringLiteral("position %1 holds a setup stored since").arg(position));
                }
                auto* setup = new ZunSetup(m_zun, dir.absoluteFilePath(f));
                adopt(setup);
                uploadSetup(setup, position);
            } catch (const std::exception& e) {
                failed << QStringLiteral("%1: %2").arg(f, QString::fromStdString(e.what()));
            }
        }
    }
    guarded([&]() {
        if (!m_zun->GetLogFolder().isEmpty())
            allToFile(m_zun->GetLogFolder());
    });
    return failed;
}
