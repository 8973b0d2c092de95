#include "CZun.h"

#include "CCmdMap.h"
#include "CEQManager.h"
#include "CMemoryManager.h"
#include "CRoutingManager.h"
#include "CZunFIRLimManager.h"
#include "CZunParam.h"
#include "CZunSetupManager.h"
#include "ZunSetup.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunDSPProgramInfo.h"
#include "ZunDSPProgramManager.h"
#include "ZunDeviceStats.h"
#include "ZunFirmwareUpdate.h"
#include "ZunGarbageCollection.h"
#include "ZunLogFile.h"
#include "ZunManagerThread.h"
#include "ZunMetaTypes.h"
#include "ZunOperations.h"
#include "ZunRoutingConfiguration.h"
#include "ZunTimedSteps.h"
#include "ZunUnfinishedOperations.h"
#include "ZunWaitMs.h"
#include "ZunWaitingCall.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QStandardItemModel>
#include <QTcpSocket>
#include <QThread>

#include <boost/numeric/conversion/cast.hpp>

#include <algorithm>
#include <cmath>
#include <utility>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace
{
constexpr quint16 ParRead = 0xFF0B;
constexpr int ThreadStopMs = 5000;

// Halves away from zero, on the single-precision grid value.
float roundToGrid(double value, float grid)
{
    return float(std::round(value / double(grid)) * double(grid));
}

qint64 monotonicMs()
{
    static QElapsedTimer timer;
    static const bool started = (timer.start(), true);
    Q_UNUSED(started);
    return timer.elapsed();
}

std::logic_error error(const QString& text)
{
    return std::logic_error(text.toStdString());
}
} // namespace

CZun::CZun(QSharedPointer<ZunDeviceStats> record, QSharedPointer<CCmdMap> map,
           QSharedPointer<CRoutingLibrary> library, QObject* parent)
    : QObject(parent), m_map(std::move(map)), m_library(std::move(library)),
      m_linkLosses([this]() { return m_link->lossesReported(); }), m_clock(monotonicMs)
{
    // Every type a queued connection below carries is known before the first one.
    registerZunMetaTypes();

    m_link = new ZunBaseComm(record, m_map);
    QObject::connect(m_link, &ZunBaseComm::signal_SocketCreated, this, &CZun::onSocketCreated, Qt::QueuedConnection);
    m_link->start(QThread::InheritPriority);

    m_hardwareInfo = record->getHardwareInfo();
    m_nr.store(record->serial());

    QObject::connect(m_map.data(), &CCmdMap::signal_CmdMapChanged, this, &CZun::on_CmdMapChanged);
    on_CmdMapChanged();

    m_memoryManager = new CMemoryManager();
    QObject::connect(m_memoryManager, &CMemoryManager::signal_LowMemory, this, &CZun::on_LowFlashMemory);
    QObject::connect(m_memoryManager, &CMemoryManager::signal_RequestRefresh, this, &CZun::RefreshMemDir);

    m_eqManager = new CEQManager(this);

    m_routingManager = new CRoutingManager(this);
    m_routing = std::make_unique<ZunRoutingConfiguration>(*this);
    // A routing configuration's step that fails ends it with a box, as its call would have.
    QObject::connect(m_routing->steps(), &ZunTimedSteps::signal_Finished, this, [this](bool ok, const QString& text) {
        if (!ok)
            emit signal_exception(text, QStringLiteral("ZunControl"));
    });
    QObject::connect(m_routingManager, &CRoutingManager::signal_exception, this,
                     [this](QString caption, QString text) { emit signal_exception(text, caption); });
    const quint16 routing = record->routingWord();
    m_routingManager->rebuild(routing == 0 ? 0x1191 : routing);

    m_image = new CZunStatusBuffer(this);
    // The image takes the replies in the link's thread, right after the link has read
    // them: a thread of its own would add one more wake-up between every reply and the
    // window showing it.
    m_image->moveToThread(m_link);
    // Replies restart the keep-alive's silence where they are handled: a queued call for
    // each would wake the GUI thread once more for every reply.
    QObject::connect(m_image, &CZunStatusBuffer::signal_TcpChecked, this, &CZun::resetTcpCheckTime, Qt::DirectConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_ZunOutOfSync, this, &CZun::RefreshStatusBuffer, Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_StatusBufferChanged, this, &CZun::on_StatusBufferChanged,
                     Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_DSPInitialized, this, &CZun::on_DSPInitialized,
                     Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_FactoryReset, this, &CZun::on_FlashMemoryErased,
                     Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_DefaultSettingsRestored, this,
                     &CZun::on_DefaultSettingsRestored, Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_RoutingPreset, this, &CZun::on_RoutingPreset,
                     Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_SetupModified, this, &CZun::on_SetupModified,
                     Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_ImageRefreshFailed, this, &CZun::on_ImageRefreshFailed,
                     Qt::QueuedConnection);

    m_dspProgramManager = new ZunDSPProgramManager(this);
    startWorker(m_dspProgramManager, m_dspProgramThread);

    m_firLimManager = new CZunFIRLimManager(this);
    startWorker(m_firLimManager, m_firLimThread);
    QObject::connect(this, &CZun::signal_ZunStatusChanged, m_firLimManager, &CZunFIRLimManager::on_ZunStatusChanged,
                     Qt::QueuedConnection);
    QObject::connect(m_firLimManager, &CZunFIRLimManager::signal_Initialized, this, &CZun::onFirLimManagerInitialized,
                     Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_FIRFilterRemoved, m_firLimManager,
                     &CZunFIRLimManager::on_FIRFilterRemoved, Qt::QueuedConnection);

    m_setupManager = new CZunSetupManager(this);
    startWorker(m_setupManager, m_setupThread);
    QObject::connect(m_image, &CZunStatusBuffer::signal_SetupRemoved, m_setupManager, &CZunSetupManager::on_SetupRemoved,
                     Qt::QueuedConnection);
    QObject::connect(m_setupManager, &CZunSetupManager::signal_MapFirSetupsRefreshed, m_firLimManager,
                     &CZunFIRLimManager::UpdateFirModel, Qt::QueuedConnection);

    m_memoryManager->initConstants(this);
    QObject::connect(m_memoryManager, &CMemoryManager::signal_MemDirChanged, this, &CZun::on_MemDirChanged,
                     Qt::QueuedConnection);

    // The link hands a reply on while it holds its buffer, and the dispatcher may send (a
    // refusal's realignment, the next PIN step): the image keeps the replies, and handles
    // them as soon as the read that brought them has let go of the buffer.
    // The read's own replies need no queued call: its end takes them.
    const ZunBaseComm* link = m_link;
    CZunStatusBuffer* image = m_image;
    QObject::connect(
        m_link, &ZunBaseComm::signal_CmdProcessed, m_image,
        [image, link](const CZunCmd& cmd) { image->keepReply(cmd, link->isReading()); }, Qt::DirectConnection);
    QObject::connect(m_link, &ZunBaseComm::signal_TcpDataReceived, m_image, &CZunStatusBuffer::takeReplies,
                     Qt::DirectConnection);

    m_freeCycles0 = m_freeCycles1 = 1666;
    // What a long operation took for its time comes back when the last holder ends (the
    // keep-alive; each connection gives the processor its normal value anyway).
    m_operations = new ZunOperations([this]() { return IsConnected() && !m_losingLink; }, [this]() { setKeepAlive(true); }, this);
    m_collection = new ZunGarbageCollection(this);
    m_firmwareUpdate = new ZunFirmwareUpdate(this);
    m_sampleRate = 96000;
    m_name = record->getName();
    m_record = record;
}

void CZun::startWorker(QObject* object, ZunManagerThread*& thread)
{
    thread = new ZunManagerThread();
    thread->start();
    object->moveToThread(thread);
}

// Quits a worker thread and joins it: its manager may still reach this object until the
// thread has ended, so it is never left running.
bool CZun::stopWorker(ZunManagerThread*& thread)
{
    if (!thread)
        return true;
    // Ends the polling waits of a manager that is inside one (see ZunWaitMs).
    thread->requestInterruption();
    thread->quit();
    while (!thread->wait(ThreadStopMs))
        qWarning() << "CZun: still waiting for a worker thread to end";
    delete thread;
    thread = nullptr;
    return true;
}

CZun::~CZun()
{
    m_operations->close();
    // No more replies into the image, the managers or this object while they go away.
    for (QObject* receiver : {static_cast<QObject*>(m_image), static_cast<QObject*>(m_dspProgramManager),
                              static_cast<QObject*>(m_firLimManager), static_cast<QObject*>(m_setupManager),
                              static_cast<QObject*>(this)})
        QObject::disconnect(m_link, nullptr, receiver, nullptr);
    // The managers' forwarders of failed blocks run in the link's thread: one started
    // before the cut ends before any manager goes. The replies queued for the image before
    // the cut are handled by then too, and the image comes back to this thread to go.
    CZunStatusBuffer* image = m_image;
    QThread* here = thread();
    QMetaObject::invokeMethod(m_link, [image, here]() { image->moveToThread(here); }, zunWaitingCall(m_link));
    // Every manager leaves its waits first: one may be waiting for a call into another.
    for (ZunManagerThread* worker : {m_setupThread, m_firLimThread, m_dspProgramThread})
        if (worker)
            worker->requestInterruption();
    // Reverse order of construction: a manager calls (and waits) only into those after it.
    if (stopWorker(m_setupThread))
        delete m_setupManager;
    if (stopWorker(m_firLimThread))
        delete m_firLimManager;
    if (stopWorker(m_dspProgramThread))
        delete m_dspProgramManager;
    delete m_image;
    delete m_routingManager;
    delete m_eqManager;
    delete m_memoryManager;
    delete m_limiterReleaseRange;
    delete m_channelDelayRange;
    delete m_channelGainRange;
    delete m_masterDelayRange;
    delete m_masterGainRange;
    if (m_link->isConnected())
        QMetaObject::invokeMethod(m_link, "disconnectZun", zunWaitingCall(m_link));
    delete m_link; // quits and waits for the link thread
}

// --- accessors ------------------------------------------------------------------------

QString CZun::GetName() const
{
    // A processor that did not announce itself (found by a network scan) has no name in
    // its record at first; the name it announces later is its name. A name given here
    // holds until the processor announces another than it did then (the new name, or
    // another processor put in its place).
    if (m_record && (!m_nameGiven || m_record->rawName() != m_nameBeforeGiven)) {
        const QString announced = m_record->rawName().trimmed();
        if (!announced.isEmpty())
            return announced;
    }
    return m_name;
}

CZunHardwareInfo CZun::GetHardwareInfo() const
{
    QMutexLocker lock(&m_hardwareMutex);
    return m_hardwareInfo;
}

QHostAddress CZun::GetIpAddress() const { return m_link->getIpAddress(); }
void CZun::SetIpAddress(const QHostAddress& address) { m_link->setIpAddress(address); }
void CZun::SetPort(int port) { m_link->setPort(port); }
quint16 CZun::GetFirmwareVersion() const { return m_link->getFirmwareVersion(); }
quint16 CZun::GetFirmwareSubVersion() const { return m_link->getFirmwareRevision(); }
bool CZun::IsConnected() const { return m_link->isConnected(); }

int CZun::SendCmd(quint16 id, quint16 value)
{
    {
        QMutexLocker lock(&m_observerMutex);
        if (m_sendObserver)
            m_sendObserver(CZunMetaCmd(id, value));
    }
    return m_link->sendCmd(id, value);
}

int CZun::SendMetaCmd(const CZunMetaCmd& meta)
{
    {
        QMutexLocker lock(&m_observerMutex);
        if (m_sendObserver)
            m_sendObserver(meta);
    }
    return m_link->sendMetaCmd(meta);
}

void CZun::SetSendObserver(std::function<void(const CZunMetaCmd&)> observer)
{
    QMutexLocker lock(&m_observerMutex);
    m_sendObserver = std::move(observer);
}

void CZun::SetClock(Clock clock)
{
    m_clock = std::move(clock);
}

qint64 CZun::now() const { return m_clock(); }

bool CZun::IsSetupModified() const { return m_image->isModified(); }
quint16 CZun::GetActiveSetup() const { return word("Cmd_SetupSelect"); }
QString CZun::GetActiveSetupName() const
{
    try {
        const ZunSetup* setup = m_setupManager->GetSetup(GetActiveSetup());
        return setup ? setup->GetSetupName() : QString();
    } catch (const std::logic_error&) {
        return QString(); // a number outside the list names no stored setup
    }
}

void CZun::SaveSetup(const quint16& position, QString name) { m_setupManager->StoreSetup(position, name); }
void CZun::SelectSetup(const quint16& position) { m_setupManager->SelectSetup(position); }

void CZun::UploadSetup(const QString& file, int position) { emit signal_UploadSetup(file, position); }
void CZun::RemoveSetup(int position) { emit signal_RemoveSetup(position); }
void CZun::UploadFIRFilterFile(const QString& file, uint position) { emit signal_UploadFIRFilter(file, position); }
void CZun::RemoveFIRFilter(uint id) { emit signal_RemoveFIRFilter(id); }
void CZun::UploadDSPProgram(quint16 id) { emit signal_UploadDSPProgram(id); }
void CZun::ActivateDSPProgram(quint16 id0, quint16 id1) { emit signal_ActivateDSPProgram(id0, id1); }

QString CZun::GetLogFolder() const
{
    QMutexLocker lock(&m_folderMutex);
    return m_logFolder;
}

QSharedPointer<CCmdMap> CZun::GetCmdMap() const
{
    QMutexLocker lock(&m_mapMutex);
    return m_map;
}

// Looked up under the lock: a map replaced meanwhile stays alive until the lookup is done.
quint16 CZun::nr(const char* name) const
{
    QMutexLocker lock(&m_mapMutex);
    return m_map->getCmdNr(name);
}

quint16 CZun::nr(const QString& name) const
{
    QMutexLocker lock(&m_mapMutex);
    return m_map->getCmdNr(name);
}
quint16 CZun::word(const char* name) const { return m_image->getValue(nr(name)); }
quint16 CZun::word(const QString& name) const { return m_image->getValue(nr(name)); }
bool CZun::linked() const { return m_image->isLinked(); }

// --- small slots --------------------------------------------------------------------------

void CZun::SetHardwareInfo(quint64 value)
{
    CZunHardwareInfo info;
    {
        QMutexLocker lock(&m_hardwareMutex);
        if (m_hardwareInfo.isValid())
            return;
        m_hardwareInfo.setValue(quint32(value & 0xFFFFFFFFu), quint32(value >> 32));
        info = m_hardwareInfo;
    }
    emit signal_HardwareInfoUpdated(quint32(GetNr()), info);
    // A processor registered without its hardware information (found by a network scan)
    // has no channels yet: an image that came first is taken again, now with them.
    if (m_hasImage)
        QMetaObject::invokeMethod(this, "on_StatusBufferChanged", Qt::QueuedConnection);
}

void CZun::ResetBuffers() { m_link->resetBuffer(); }

void CZun::on_DSPInitialized(bool ok, quint16 id0, quint16 id1)
{
    emit signal_DSPProgramSelect(ok, id0, id1);
    // A refused boot (reported for both DSPs at once) leaves the DSPs on their old programs,
    // which may not run the FIR sets just chosen: the operator must know.
    if (!ok && id0 == 0)
        emit signal_exception(QStringLiteral("The processor refused to start the DSP programs the FIR filters need. "
                                             "The DSPs go on running their previous programs."),
                              QStringLiteral("ZunControl"));
}

void CZun::on_RoutingPreset(bool, int) { RefreshStatusBuffer(); }

void CZun::on_SetupModified() { emit signal_SetupModified(); }

void CZun::on_LowFlashMemory()
{
    // Offered once each time the flash runs low on a link: every directory read finds it
    // low again until a collection (or a removal) makes room.
    if (m_memoryManager->deletedCount() != 0 && !std::exchange(m_lowMemoryOffered, true))
        emit signal_LowFlashMemory();
}

void CZun::on_ImageRefreshFailed()
{
    m_refreshPending = false;
    // A lost link is reported by the link's own handling; the next connect reads the image.
    if (!IsConnected()) {
        m_refreshRetries = 0;
        return;
    }
    constexpr int MaxRefreshRetries = 2;
    if (m_refreshRetries < MaxRefreshRetries) {
        ++m_refreshRetries;
        RefreshStatusBuffer();
        return;
    }
    m_refreshRetries = 0;
    emit signal_LogMessage(QStringLiteral("The processor's parameter image could not be read back (%1 tries, "
                                          "each damaged or refused); the window may show a stale image.\n")
                               .arg(MaxRefreshRetries + 1),
                           true);
    emit signal_exception(QStringLiteral("The processor's settings could not be read back, so this window may not "
                                         "show what the processor holds. Reconnect to read them again."),
                          QStringLiteral("Settings not read back"));
}

void CZun::onFirLimManagerInitialized()
{
    // What earlier operations left unfinished, named once the sets are seen to.
    const QList<ZunOperationJournal::Entry> left = m_operations->journal()->takeLeftOver();
    try {
        // While a garbage collection's backup is pending its restore brings the sets back, and
        // the DSPs go on running what they ran (a crossover must not turn into full range).
        // Nor is anything activated over a set the DSPs run that the flash lacks (an erase cut
        // short, with its backup on another computer or in another configuration folder).
        // The operator's own erase (answered, or its answer lost with the link, or that of a
        // program killed or quit after sending it) ends at factory state: the flash it emptied
        // gets the pass-through set, run by both DSPs, whatever the erased flash held. A flash
        // that still holds sets was not erased.
        const bool erasing = m_eraseOperation && m_eraseOperation->isRunning();
        const bool erasedBefore = std::any_of(left.cbegin(), left.cend(), [](const ZunOperationJournal::Entry& e) {
            return e.kind == ZunLongOperation::Erase;
        });
        const bool factoryState = (m_factoryErase || erasedBefore) && m_passThroughOnEmptyFlash && !erasing
                               && m_memoryManager->filterCount() == 0 && m_memoryManager->setupCount() == 0;
        if (!erasing)
            m_factoryErase = false;
        QList<quint32> unstored;
        if (m_collection->holdsBackup()) {
        } else if (factoryState) {
            m_unstoredSetsTold.clear();
            runPassThroughSet();
        } else if (m_firLimManager->activationInFlight()) {
            // The program's own activation is on its way: its answer names what the DSPs run.
        } else if (repairCutActivation()) {
        } else if (!(unstored = unstoredRunningSets()).isEmpty()) {
            // This program's own stores, still on their way or checked, may have replaced it
            // (another program used the processor meanwhile): judged once they are over.
            const bool ownStores = m_runningSetChecks.load() > 0 || m_firLimManager->pendingUploads() != 0
                                || m_firLimManager->unsettledStores() != 0 || m_setupManager->pendingUploads() != 0
                                || m_setupManager->unsettledStores() != 0;
            if (!ownStores && std::exchange(m_unstoredSetsTold, unstored) != unstored) {
                // Each set by its id, with the DSP that runs it when the two differ.
                QStringList named;
                const bool one = unstored.size() == 1;
                for (const quint32 id : qAsConst(unstored)) {
                    const QString hex = QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0'));
                    named << (one ? hex : tr("%1 (DSP %2)").arg(hex).arg(GetActiveFilterIndex(1) == id ? 1 : 2));
                }
                emit signal_exception(
                    tr("The DSPs run the FIR/limiter %1 %2, which the processor's flash does not hold (an erase "
                       "removed %3, or a garbage collection was cut short). %4 on running, and no other set was "
                       "activated over %3, but %5 lost when the processor restarts.\nTo store %3, connect from the "
                       "computer and configuration folder that ran the garbage collection (it puts its backup back), "
                       "or upload %6 (\"Upload to Zun\" beside \"Select FIR for DSP1\") or a configuration folder "
                       "that holds %3 (\"Upload Config to Zun\").")
                        .arg(one ? tr("set") : tr("sets"), named.join(tr(" and ")), one ? tr("it") : tr("them"),
                             one ? tr("It goes") : tr("They go"), one ? tr("it is") : tr("they are"),
                             one ? tr("its FIR file") : tr("their FIR files")),
                    tr("FIR/limiter set not stored"));
            }
        } else if (m_memoryManager->filterCount() == 0) {
            // A processor without any FIR/limiter set gets the pass-through set.
            if (m_passThroughOnEmptyFlash) {
                runPassThroughSet();
            }
        } else {
            const QStandardItemModel* model = m_firLimManager->GetFirModel();
            if (model && model->rowCount() > 0 && GetActiveFilterIndex(1) == 0) {
                const quint32 id = model->item(0, 0)->data(Qt::UserRole).toUInt();
                InvokeActivateFIRFilter(id, ZunC::NoCopies, id, ZunC::NoCopies);
            }
        }
    } catch (const std::exception& e) {
        // A queued slot must not throw into the event loop; the setups still start, so
        // that nothing waits for this manager forever.
        emit signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
    }
    QMetaObject::invokeMethod(m_setupManager, "initialize", zunWaitingCall(m_setupManager));
    m_firManagerReady = true;
    nameUnfinishedOperations(left);
    m_collection->onDirectory();
}

void CZun::runPassThroughSet()
{
    const QShPtrFLE set = m_firLimManager->CreateThruFIRFilter(GetSampleRate(), 0);
    CheckFilterMIPS(set, 0);
    QMetaObject::invokeMethod(m_firLimManager, "UploadOwnFIRFilter", zunWaitingCall(m_firLimManager),
                              Q_ARG(QShPtrFLE, set));
    const quint32 id = set->getKey();
    InvokeActivateFIRFilter(id, ZunC::NoCopies, id, ZunC::NoCopies);
}

void CZun::nameUnfinishedOperations(const QList<ZunOperationJournal::Entry>& left)
{
    // What could not be read, changed or written of the record itself, said once.
    const QStringList notices = m_operations->journal()->takeNotices();
    if (left.isEmpty() && notices.isEmpty())
        return;
    QStringList parts = notices;
    if (!left.isEmpty())
        parts.prepend(ZunUnfinishedOperations::text(this, left));
    const QString text = parts.join(QStringLiteral("\n\n"));
    emit signal_LogMessage(text + QLatin1Char('\n'), true);
    emit signal_exception(text, left.isEmpty() ? tr("Record of operations") : tr("Operations not finished"));
}

QList<quint32> CZun::unstoredRunningSets()
{
    QList<quint32> ids;
    for (const quint16 dsp : {quint16(1), quint16(2)}) {
        const quint32 id = GetActiveFilterIndex(dsp);
        if (id != 0 && !m_memoryManager->hasFilterId(id) && !ids.contains(id))
            ids << id;
    }
    if (ids.isEmpty())
        m_unstoredSetsTold.clear(); // stored again: a later loss is told again
    return ids;
}

bool CZun::repairCutActivation()
{
    auto hex = [](quint32 id) { return QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0')); };
    bool cut = false;
    QList<quint32> unknown;
    QStringList told;
    const int dsps = GetHardwareInfo().isDoubleBoard() ? 2 : 1;
    for (int d = 0; d < dsps; ++d) {
        const quint32 named = GetActiveFilterIndex(quint16(d + 1));
        if (named == 0 || m_memoryManager->hasFilterId(named))
            continue;
        // The activation that was cut: the stored sets with the first word it sent. The set
        // the DSP still runs: the stored set that owns the high word left there (none: the
        // DSP ran none).
        QList<quint32> asked, before;
        for (int p = 0; p < m_memoryManager->filterListSize(); ++p) {
            const quint32 id = m_memoryManager->filterIdAt(p);
            if (id != 0 && (id & 0xFFFF) == (named & 0xFFFF) && !asked.contains(id))
                asked << id;
            if (id != 0 && (id >> 16) == (named >> 16) && !before.contains(id))
                before << id;
        }
        if (asked.isEmpty())
            continue; // no stored set's first word: a set the flash lacks
        cut = true;
        QStringList askedHex;
        for (const quint32 id : qAsConst(asked))
            askedHex << hex(id);
        const QString activation = tr("The activation of the FIR/limiter set %1 on DSP %2")
                                       .arg(askedHex.join(tr(" or ")))
                                       .arg(d + 1);
        if (before.size() == 1 || (named >> 16) == 0) {
            const quint32 runs = before.size() == 1 ? before.first() : 0;
            // Nothing is loaded: the words are named again for what the DSP runs, in the image
            // at once (what is told of the processor now reads them) and in the processor.
            const quint16 low = nr(d == 0 ? "Cmd_0_FIR_ID0" : "Cmd_1_FIR_ID0");
            m_image->setValue(low, quint16(runs & 0xFFFF));
            SendCmd(low, quint16(runs & 0xFFFF));
            emit signal_LogMessage(
                tr("%1 did not happen: it was cut after its first word, before the DSP loaded the set. DSP %2 runs %3 "
                   "as before, and its words name it again.")
                    .arg(activation)
                    .arg(d + 1)
                    .arg(runs == 0 ? tr("no set") : tr("the set %1").arg(hex(runs))),
                true);
            continue;
        }
        // Two stored sets share the high word, or none owns it (another program may have run
        // a set it did not store): which set runs is not known, and it goes on running.
        unknown << named;
        told << tr("DSP %1 names the FIR/limiter set %2, which the processor's flash does not hold. Its first word is "
                   "that of the stored set %3: an activation of it may have been cut before it ended, or another "
                   "program ran a set it did not store. Which set DSP %1 runs can not be told; it goes on running, "
                   "and nothing was activated over it. Choose the set in \"Select FIR for DSP%1\" to know what runs.")
                    .arg(d + 1)
                    .arg(hex(named))
                    .arg(askedHex.join(tr(" or ")));
    }
    if (!unknown.isEmpty() && std::exchange(m_unstoredSetsTold, unknown) != unknown)
        emit signal_exception(told.join(QStringLiteral("\n")), tr("FIR/limiter set not known"));
    return cut;
}

void CZun::releaseRunningSetCheck()
{
    if (--m_runningSetChecks == 0 && IsConnected())
        QMetaObject::invokeMethod(this, "RefreshMemDir", Qt::QueuedConnection);
}

void CZun::on_MemDirReadFailed()
{
    if (IsConnected() && m_memDirRereads < 2) {
        ++m_memDirRereads;
        RefreshMemDir();
        return;
    }
    m_memDirRereads = 0;
}

void CZun::on_MemDirChanged()
{
    m_memDirRereads = 0;
    if (!m_memoryManager->isLow())
        m_lowMemoryOffered = false;
    m_collection->onDirectoryRead();
    QMetaObject::invokeMethod(m_dspProgramManager, "initialize", zunWaitingCall(m_dspProgramManager));
    QMetaObject::invokeMethod(m_firLimManager, "initialize", zunWaitingCall(m_firLimManager));
}

// --- command map and complete image ----------------------------------------------------

void CZun::on_CmdMapChanged()
{
    const CCmdMap& map = *m_map;
    m_eqFrequencyStep = roundToGrid(map.getFltConst("Step_EQ_F"), 0.1f);
    m_eqGainStep = roundToGrid(map.getFltConst("Step_EQ_G"), 0.1f);
    m_eqQualityStep = roundToGrid(map.getFltConst("Step_EQ_Q"), 0.0001f);
    m_gainStep = roundToGrid(map.getFltConst("Step_Gain"), 0.1f);
    m_delayStep = float(map.getFltConst("Step_Delay"));
    m_masterDelayStep = GetFirmwareVersion() >= 1072 ? float(map.getFltConst("Step_MDelay")) : m_delayStep;

    auto range = [](CZunParam*& r, float min, float step, float max) {
        delete r;
        r = nullptr;
        r = new CZunParam({{double(min), double(step)}, {double(max), 0.0}});
    };
    range(m_masterGainRange, float(map.getFltConst("Min_MasterGain")) * m_gainStep, m_gainStep,
          float(map.getFltConst("Max_MasterGain")) * m_gainStep);
    range(m_masterDelayRange, float(map.getFltConst("Min_MasterDelay")) * m_masterDelayStep, m_masterDelayStep,
          float(map.getFltConst("Max_MasterDelay")) * m_masterDelayStep);
    range(m_channelGainRange, float(map.getFltConst("Min_ChGain")) * m_gainStep, m_gainStep,
          float(map.getFltConst("Max_ChGain")) * m_gainStep);
    range(m_channelDelayRange, float(map.getFltConst("Min_ChDelay")) * m_delayStep, m_delayStep,
          float(map.getFltConst("Max_ChDelay")) * m_delayStep);
    range(m_limiterReleaseRange, float(map.getCmdNr("Min_LimRelease")), 1.0f, float(map.getCmdNr("Max_LimRelease")));
}

void CZun::on_StatusBufferChanged()
{
    m_refreshPending = false;
    m_refreshRetries = 0;
    // The rebuild keeps the processor busy without TCP traffic: the keep-alive rests, and
    // comes back afterwards on every path (also when a step throws) unless an operation
    // holds it off meanwhile (one may end or begin while the rebuild's signals are handled).
    struct Restore
    {
        QSharedPointer<ZunOperation> rest;
        ~Restore()
        {
            if (rest)
                rest->finish(ZunOperation::Outcome::Done);
        }
    } restore{m_keepAliveOn ? RestKeepAlive() : QSharedPointer<ZunOperation>()};

    auto setFlashSize = [this]() {
        const bool has = m_map->contains(QStringLiteral("Cmd_FlashSize"));
        m_memoryManager->setFlashSize(has ? quint32(word("Cmd_FlashSize")) * 1024u : 0x40000u);
    };
    try {
        if (GetFirmwareVersion() >= 1073) {
            const float offset = float(word("Cmd_0_MasterGainOfs")) * m_gainStep;
            CZunParam* range = new CZunParam(
                {{double(float(m_map->getFltConst("Min_MasterGain")) * m_gainStep - offset), double(m_gainStep)},
                 {double(float(m_map->getFltConst("Max_MasterGain")) * m_gainStep - offset), 0.0}});
            delete m_masterGainRange;
            m_masterGainRange = range;
        }
        m_routingManager->rebuild(0xFFFF);
        m_routingManager->BlockRecalculation(true);
        m_eqManager->Rebuild();
        m_routingManager->BlockRecalculation(false);
        QMetaObject::invokeMethod(m_routingManager, "updateFrequencyResponse", Qt::QueuedConnection);
        setFlashSize();
        m_imageUnreadable = false;
    } catch (const std::exception& e) {
        // Reported to the user like any failure of a queued slot; nothing escapes the
        // event loop.
        m_routingManager->BlockRecalculation(false);
        try {
            setFlashSize();
        } catch (...) {
        }
        m_imageUnreadable = true;
        m_hasImage = true;
        emit signal_ZunStatusChanged();
        emit signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
        return;
    }
    m_hasImage = true;
    emit signal_ZunStatusChanged();
}

// --- connection, keep-alive and log ------------------------------------------------------

void CZun::onSocketCreated()
{
    QTcpSocket* socket = m_link->getSocket();
    if (!socket || property("zunSocketWired").toBool())
        return;
    setProperty("zunSocketWired", true);
    QObject::connect(m_link, &ZunBaseComm::signal_NetworkError, this, &CZun::onNetworkError, Qt::QueuedConnection);
    QObject::connect(m_link, &ZunBaseComm::signal_TcpDataReceived, this, &CZun::resetTcpCheckTime,
                     Qt::DirectConnection);
    QObject::connect(socket, &QTcpSocket::connected, this, &CZun::on_connected, Qt::QueuedConnection);
    QObject::connect(socket, &QTcpSocket::disconnected, this, &CZun::on_disconnected, Qt::QueuedConnection);
}

void CZun::connect(bool autoConnect)
{
    m_autoConnect = autoConnect;
    m_disconnectAsked = false;
    if (!autoConnect)
        m_keepAliveOn = false;
    m_firManagerReady = false;
    // The socket's signals must be wired before it can report the connection: wait until
    // the link thread runs its event loop (so the socket exists), then wire it here.
    QMetaObject::invokeMethod(m_link, []() {}, zunWaitingCall(m_link));
    onSocketCreated();
    QMetaObject::invokeMethod(m_link, "connectZun", zunWaitingCall(m_link));
}

void CZun::connect() { connect(true); }

void CZun::disconnect()
{
    m_disconnectAsked = true;
    QMetaObject::invokeMethod(m_link, "disconnectZun", zunWaitingCall(m_link));
}

void CZun::on_connected()
{
    m_refreshPending = false;
    m_refreshRetries = 0;
    m_lowMemoryOffered = false;
    m_operations->onConnected();
    // A recall's answer over an earlier link never comes: its rest ends here.
    if (const QSharedPointer<ZunOperation> rest = std::exchange(m_recallRest, {}))
        rest->finish(ZunOperation::Outcome::LinkLost);
    // The processor takes its normal keep-alive (sent below) at every connection; the
    // program watches it unless a running operation holds it off.
    m_keepAliveOn = m_autoConnect && !m_operations->holdsKeepAlive();
    m_tcpCloseTime = 15;
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    const QString configDir = settings.value(QStringLiteral("ConfigDir")).toString();
    if (!configDir.isEmpty()) {
        QDir dir(configDir);
        const QString sub = QString::number(GetNr());
        if (dir.mkpath(sub)) {
            QMutexLocker lock(&m_folderMutex);
            m_logFolder = dir.absoluteFilePath(sub);
        }
    }
    // What earlier operations left unfinished is named once the lists are read.
    const QString folder = GetLogFolder();
    m_operations->journal()->setFile(folder.isEmpty() ? QString() : folder + QLatin1String(ZunOperationJournal::Suffix));
    emit signal_Connected();
    const int verbose = settings.value(QStringLiteral("verboseLevel"), 0).toInt();

    CZunMetaCmd group;
    group.appendCmd(19, 80);
    group.appendCmd(nr("Cmd_VerboseLevel"), quint16(verbose));
    group.appendCmd(nr("Cmd_TCPCloseTime"), 15);
    if (GetFirmwareVersion() >= 1077)
        group.appendCmd(nr("Cmd_BroadcastID"), 255);
    SendMetaCmd(group);

    if (m_autoConnect) {
        SendCmd(nr("ID_TX_Hardware"), 0);
        RefreshStatusBuffer();
        RefreshMemDir();
        // The processor may run a firmware announced since, which ReInit did not take
        // over for want of a command table: this object then drives it with another
        // version's numbering, and the operator is told so at every connect.
        quint16 firmware = GetFirmwareVersion();
        if (m_record && m_record->firmware() != 0 && CCmdMap::hasVersion(firmware))
            firmware = m_record->firmware();
        if (!CCmdMap::hasVersion(firmware))
            emit signal_exception(QStringLiteral("Firmware Version %1 is not supported").arg(firmware),
                                  QStringLiteral("Warning"));
    }
    m_keepAliveStart = now();
}

void CZun::on_disconnected()
{
    m_refreshPending = false;
    m_hasImage = false;
    m_losingLink = true;
    m_collection->onDisconnected();
    m_operations->onDisconnected();
    m_losingLink = false;
    emit signal_Disconnected();
}

void CZun::onNetworkError(QString text)
{
    // The link has ended the connection it reports lost. Ending it again here would end
    // the next one when this report comes after a reconnect.
    if (IsLinkLossReportedByOperation())
        emit signal_LogMessage(text, true);
    else
        emit signal_exception(text, QStringLiteral("Network error"));
}

void CZun::setKeepAlive(bool on)
{
    m_keepAliveOn = on;
    m_keepAliveStart = now();
    m_tcpCloseTime = on ? 15 : 0;
    if (GetCmdMap()->contains(QStringLiteral("Cmd_TCPCloseTime")))
        SendCmd(nr("Cmd_TCPCloseTime"), m_tcpCloseTime);
}

void CZun::giveKeepAliveBack()
{
    if (!m_operations->holdsKeepAlive())
        setKeepAlive(true);
}

QSharedPointer<ZunOperation> CZun::RestKeepAlive()
{
    // Unlisted, its kind names nothing; a lost link ends it (no answer it waits for comes).
    const QSharedPointer<ZunOperation> rest = m_operations->begin(
        ZunLongOperation::SetupRecall, ZunOperation::KeepAlive | ZunOperation::Unlisted | ZunOperation::EndsWithLink);
    setKeepAlive(false);
    return rest;
}

void CZun::restKeepAliveForRecall()
{
    if (!m_recallRest || !m_recallRest->isRunning())
        m_recallRest = RestKeepAlive();
}

void CZun::on_RecallAnswered()
{
    if (const QSharedPointer<ZunOperation> rest = std::exchange(m_recallRest, {}))
        rest->finish(ZunOperation::Outcome::Done);
    else
        giveKeepAliveBack();
}

void CZun::EnableTcpCheck(bool on)
{
    m_keepAliveOn = on;
    m_keepAliveStart = now();
    m_tcpCloseTime = on ? 15 : 0;
    SendCmd(nr("Cmd_TCPCloseTime"), m_tcpCloseTime);
}

void CZun::triggerTcpCheck()
{
    if (!IsConnected() || !m_keepAliveOn)
        return;
    const qint64 start = m_keepAliveStart.load();
    const qint64 t = start < 0 ? 0 : now() - start;
    if (t > 10000) {
        QMetaObject::invokeMethod(m_link, "disconnectZun", zunWaitingCall(m_link));
        onNetworkError(QStringLiteral("The connection to Zun nr. %1 seems to be lost. Time out: %2").arg(GetNr()).arg(t));
    } else if (t > 5000) {
        if (GetCmdMap()->contains(QStringLiteral("Cmd_TCPCloseTime")))
            SendCmd(nr("Cmd_TCPCloseTime"), m_tcpCloseTime);
    }
}

void CZun::resetTcpCheckTime() { m_keepAliveStart = now(); }

void CZun::printToLog(QString text) { ZunLogFile::instance().write(GetLogFolder(), text); }

// --- read-back requests -----------------------------------------------------------------------

void CZun::RefreshStatusBuffer()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    CZunMetaCmd meta;
    meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf"));
    meta.appendCmd(nr("ID_TX_Block"), nr("ID_Block_Flash"));
    meta.setSupersede(false);
    SendMetaCmd(meta);
}

void CZun::RefreshMemDir()
{
    CZunMetaCmd meta;
    meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyMemDir2RxTxBuf"));
    meta.appendCmd(nr("ID_TX_Block"), nr("ID_Block_Flash"));
    meta.setSupersede(false);
    SendMetaCmd(meta);
}

void CZun::requestCmdStatus(quint16 cmd)
{
    if (cmd >= CZunStatusBuffer::ImageWords)
        return;
    CZunMetaCmd meta(ParRead, cmd);
    if (GetCmdMap()->contains(QStringLiteral("Cmd_SetupFlags")) && nr("Cmd_SetupFlags") != cmd)
        meta.appendCmd(ParRead, nr("Cmd_SetupFlags"));
    meta.setSupersede(false);
    SendMetaCmd(meta);
    if (cmd == nr("Cmd_0_MasterGain"))
        SendCmd(ParRead, nr("Cmd_1_MasterGain"));
}

// --- gains, mutes and polarity ----------------------------------------------------------------

float CZun::gainOf(quint16 raw) const
{
    return float(double(m_gainStep) * double(qint16(raw)));
}

void CZun::checkGain(double gain, const CZunParam* range) const
{
    if (std::isnan(gain) || range->Bound(gain) != gain)
        throw error(QStringLiteral("Gain value of %1 is out of bounds. Valid values are between %2 and %3")
                        .arg(gain, 0, 'g')
                        .arg(range->GetMin(), 0, 'g')
                        .arg(range->GetMax(), 0, 'g'));
}

quint16 CZun::rawGain(double gain, const CZunParam* range) const
{
    checkGain(gain, range);
    const double q = double(float(gain)) / double(m_gainStep);
    const double r = gain / double(m_gainStep) >= 0 ? std::floor(q + 0.5) : std::ceil(q - 0.5);
    return quint16(qint16(int(r)));
}

namespace
{
// "Cmd_<dsp>_<param><index>"; snprintf would cost as much as the rest of an edit.
CZun::CmdName formatCmdName(const char* param, int dsp, char index, int indexNumber)
{
    CZun::CmdName name;
    if (dsp < 0 || dsp > 9 || indexNumber < 0 || indexNumber > 9 || std::strlen(param) > sizeof name.text - 9) {
        // Out of range: a name no map holds, which the lookup reports.
        std::snprintf(name.text, sizeof name.text, "Cmd_%d_%.16s%d", dsp, param, indexNumber);
        return name;
    }
    char* p = name.text;
    std::memcpy(p, "Cmd_", 4);
    p += 4;
    *p++ = char('0' + dsp);
    *p++ = '_';
    const size_t n = std::strlen(param);
    std::memcpy(p, param, n);
    p += n;
    *p++ = index;
    *p = '\0';
    return name;
}
} // namespace

CZun::CmdName CZun::outputName(const char* param, int output)
{
    return formatCmdName(param, output / 4, char('0' + output % 4), output % 4);
}

CZun::CmdName CZun::pathName(const char* param, int path)
{
    return formatCmdName(param, path / 4, char('A' + path), path < 0 ? -1 : 0);
}

void CZun::sendOutput(const char* param, int output, quint16 value)
{
    const quint16 own = nr(outputName(param, output));
    const quint16 partner = nr(outputName(param, (output + 4) % 8));
    CZunMetaCmd meta;
    meta.appendCmd(own, value);
    if (linked())
        meta.appendCmd(partner, value);
    SendMetaCmd(meta);
}

void CZun::sendPath(const char* param, int path, quint16 value)
{
    const quint16 own = nr(pathName(param, path));
    const bool hasPartner = path < 2;
    const quint16 partner = hasPartner ? nr(pathName(param, 1 - path)) : 0;
    CZunMetaCmd meta;
    meta.appendCmd(own, value);
    if (hasPartner && linked())
        meta.appendCmd(partner, value);
    SendMetaCmd(meta);
}

float CZun::GetMasterGain(const int& dsp) const
{
    const quint16 w0 = word("Cmd_0_MasterGain");
    const quint16 w1 = word("Cmd_1_MasterGain");
    if (dsp == 0 || dsp == 1)
        return gainOf(w0);
    if (dsp == 2)
        return gainOf(w1);
    throw error(QStringLiteral("CZun::GetMasterGain(): dsp must be 0, 1, or 2."));
}

bool CZun::IsAllMuted(const int& dsp) const
{
    const bool m0 = word("Cmd_0_MasterMute") != 0;
    const bool m1 = word("Cmd_1_MasterMute") != 0;
    switch (dsp) {
    case 0:
        if (m0 != m1)
            throw error(QStringLiteral("CZun::IsAllMuted(): MasterMutes are not linked but tried to retrieved as linked"));
        return m0;
    case 1:
        return m0;
    case 2:
        return m1;
    default:
        throw error(QStringLiteral("CZun::IsAllMuted(): dsp must be 0, 1, or 2."));
    }
}

float CZun::GetChannelGain(const ZunC::AnalogOutputs& output) const
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("GetChannelGain requires channel nr. between 1 and 8."));
    return gainOf(word(outputName("ChGain", output)));
}

bool CZun::IsChannelMuted(const ZunC::AnalogOutputs& output) const
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("IsChannelMuted() requires channel nr. between 1 and 8."));
    return word(outputName("ChMute", output)) != 0;
}

bool CZun::IsChannelPhaseInverted(const ZunC::AnalogOutputs& output) const
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("SetChannelPhaseInversion requires channel nr. between 1 and 8."));
    return word(outputName("ChPhInv", output)) != 0;
}

float CZun::GetInputPathGain(ZunC::InputPaths path) const
{
    if (path == ZunC::NoPath)
        return -18.0f;
    if (unsigned(path) > 7)
        throw error(QStringLiteral("GetInputPathGain requires input path between 1 and 8."));
    return gainOf(word(pathName("InGain", path)));
}

bool CZun::IsInputPathMuted(ZunC::InputPaths path) const
{
    if (path == ZunC::NoPath)
        return false;
    if (unsigned(path) > 7)
        throw error(QStringLiteral("MuteInputPath() Invalid path specified"));
    return word(pathName("InMute", path)) != 0;
}

void CZun::SetMasterGain(const int& dsp, const double& gain)
{
    quint16 raw;
    try {
        raw = rawGain(gain, m_masterGainRange);
    } catch (const std::logic_error& e) {
        qDebug().noquote() << e.what();
        throw;
    }
    if (dsp == 0 || dsp == 1)
        SendCmd(nr("Cmd_0_MasterGain"), raw);
    if (dsp == 0 || dsp == 2)
        SendCmd(nr("Cmd_1_MasterGain"), raw);
}

CZunMetaCmd CZun::mastersAtMost(double ceiling) const
{
    const quint16 top = rawGain(ceiling, m_masterGainRange);
    CZunMetaCmd meta;
    for (const char* name : {"Cmd_0_MasterGain", "Cmd_1_MasterGain"}) {
        const quint16 now = word(name);
        meta.appendCmd(nr(name), qint16(now) < qint16(top) ? now : top);
    }
    return meta;
}

void CZun::SetMasterMute(const int& dsp, bool mute)
{
    const quint16 v = mute ? 1 : 0;
    if (dsp == 0 || linked()) {
        // One group: a refusal's realignment of the other DSP (sent while the replies are
        // processed) always comes after both words, never between them.
        CZunMetaCmd meta;
        meta.appendCmd(nr("Cmd_0_MasterMute"), v);
        meta.appendCmd(nr("Cmd_1_MasterMute"), v);
        SendMetaCmd(meta);
    } else if (dsp == 1) {
        SendCmd(nr("Cmd_0_MasterMute"), v);
    } else if (dsp == 2) {
        SendCmd(nr("Cmd_1_MasterMute"), v);
    }
}

bool CZun::IsMasterGainPending() const
{
    const ZunCmdBuffer* buffer = m_link->getCmdBuffer();
    return buffer->isPending(nr("Cmd_0_MasterGain")) || buffer->isPending(nr("Cmd_1_MasterGain"));
}

bool CZun::IsChannelGainPending(ZunC::AnalogOutputs output) const
{
    return unsigned(output) <= 7 && m_link->getCmdBuffer()->isPending(nr(outputName("ChGain", output)));
}

bool CZun::IsInputPathGainPending(ZunC::InputPaths path) const
{
    return unsigned(path) <= 7 && m_link->getCmdBuffer()->isPending(nr(pathName("InGain", path)));
}

void CZun::SetChannelGain(const double& gain, const ZunC::AnalogOutputs& output)
{
    const quint16 raw = rawGain(gain, m_channelGainRange);
    if (unsigned(output) > 7)
        throw error(QStringLiteral("SetChannelGain requires channel nr. between 1 and 8."));
    sendOutput("ChGain", output, raw);
}

void CZun::SetInputPathGain(const double& gain, ZunC::InputPaths path)
{
    const quint16 raw = rawGain(gain, m_channelGainRange);
    if (path == ZunC::NoPath)
        return;
    if (unsigned(path) > 7)
        throw error(QStringLiteral("SetInputPathGain requires input path between 1 and 8."));
    sendPath("InGain", path, raw);
}

void CZun::SetChannelPhaseInversion(const ZunC::AnalogOutputs& output, const bool& invert)
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("SetChannelPhaseInversion requires channel nr. between 1 and 8."));
    sendOutput("ChPhInv", output, invert ? 1 : 0);
}

void CZun::MuteChannel(const ZunC::AnalogOutputs& output, const bool& mute)
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("MuteChannel() requires channel nr. between 1 and 8."));
    sendOutput("ChMute", output, mute ? 1 : 0);
}

void CZun::MuteInputPath(ZunC::InputPaths path, const bool& mute)
{
    if (path == ZunC::NoPath)
        return;
    if (unsigned(path) > 7)
        throw error(QStringLiteral("MuteInputPath() invalid path specified."));
    sendPath("InMute", path, mute ? 1 : 0);
}

// --- image readers --------------------------------------------------------------------------

quint16 CZun::GetActiveDSPProgramID(quint16 dsp) const
{
    if (GetFirmwareVersion() < 1071)
        return 0;
    if (dsp == 0 || dsp == 1)
        return word("Cmd_0_DSP_ID");
    if (dsp == 2)
        return word("Cmd_1_DSP_ID");
    qDebug() << "CZun::GetActiveDSPProgramID(): invalid DSP specified.";
    throw error(QStringLiteral("CZun::GetActiveDSPProgramID(): invalid DSP specified."));
}

quint16 CZun::GetDSPType() const
{
    return GetFirmwareVersion() < 1068 ? 0 : word("Cmd_0_DSP_Type");
}

quint16 CZun::GetClockSelect() const { return word("Cmd_ClockSel"); }

double CZun::GetSampleRate() const
{
    if (m_sampleRate != 0)
        return m_sampleRate;
    return SampleRateOfClock(word("Cmd_ClockSel"));
}

double CZun::SampleRateOfClock(quint16 clock)
{
    switch (clock) {
    case 0:
    case 2:
        return 96000.0;
    case 3:
        return 192000.0;
    default:
        return 48000.0;
    }
}

quint32 CZun::GetActiveFilterIndex(quint16 dsp) const
{
    if (dsp == 0 || dsp == 1)
        return quint32(word("Cmd_0_FIR_ID1")) << 16 | word("Cmd_0_FIR_ID0");
    if (dsp == 2)
        return quint32(word("Cmd_1_FIR_ID1")) << 16 | word("Cmd_1_FIR_ID0");
    throw error(QStringLiteral("CZun::GetActiveFilterIndex(): dsp must be 0, 1 or 2."));
}

ZunC::CopyFIRCoeffsMode CZun::CopyFIRCoeffsMode(int dsp) const
{
    if (dsp < 0 || dsp > 2)
        throw error(QStringLiteral("CZun::CopyFIRCoeffsMode(): dsp must be 0, 1 or 2."));
    const bool dsp1 = dsp == 2;
    const char* name = GetFirmwareVersion() < 1075 ? (dsp1 ? "Cmd_1_CopyMH2SL" : "Cmd_0_CopyMH2SL")
                                                   : (dsp1 ? "Cmd_1_FIRCopy" : "Cmd_0_FIRCopy");
    return ZunC::CopyFIRCoeffsMode(word(name));
}

bool CZun::IsKeyLocked() const { return word("Cmd_KeyLock") == 1; }


// --- long operations of the device services ------------------------------------------

void CZun::UpdateFirmware(const QString& file) { m_firmwareUpdate->start(file); }

void CZun::ReInit(QSharedPointer<ZunDeviceStats> record, QSharedPointer<CCmdMap> map,
                  QSharedPointer<CRoutingLibrary> library)
{
    if (record)
        m_record = record;
    // A firmware without a command table of its own would fail half-way, in the image's
    // thread where nothing catches: keep the object whole and let the caller report it.
    if (!CCmdMap::hasVersion(record->firmware()))
        throw std::logic_error(
            QStringLiteral("Firmware Version %1 is not supported").arg(record->firmware()).toStdString());
    if (map && map != m_map) {
        QObject::disconnect(m_map.data(), &CCmdMap::signal_CmdMapChanged, this, &CZun::on_CmdMapChanged);
        {
            QMutexLocker lock(&m_mapMutex);
            m_map = map;
        }
        QObject::connect(m_map.data(), &CCmdMap::signal_CmdMapChanged, this, &CZun::on_CmdMapChanged);
    }
    m_link->setFirmwareVersion(record->firmware(), record->revision());
    m_library = library;
    // The reply dispatcher reads command numbers from the map: it takes the new one too.
    CZunStatusBuffer* image = m_image;
    QMetaObject::invokeMethod(
        m_image, [image, this]() { image->setCmdMap(this); }, zunWaitingCall(m_image));
    m_memoryManager->initConstants(this);
    {
        QMutexLocker lock(&m_hardwareMutex);
        m_hardwareInfo = record->getHardwareInfo();
    }
    m_routingManager->setCmdMap(m_map, m_library);
    const quint16 routing = record->routingWord();
    m_routingManager->rebuild(routing == 0 ? 0x1191 : routing);
    // In the manager's thread: an upload there holds its lock until the processor has
    // answered the last block, which this thread must not wait for.
    QMetaObject::invokeMethod(m_dspProgramManager, "initialize", zunWaitingCall(m_dspProgramManager));
    m_firmwareUpdating = false;
}

// --- maintenance -------------------------------------------------------------------------

bool CZun::EraseFlashMemory(QString* running)
{
    // The collection's own erase is a step of it: the lists name the collection.
    const bool step = m_collection->isRunning();
    const int takes = ZunOperation::KeepAlive | ZunOperation::EndsWithLink | (step ? ZunOperation::Unlisted : 0);
    // The processor's timer comes back after the erase, unless another operation holds it off.
    const quint16 after = m_operations->holdsKeepAlive() ? 0 : 15;
    // Beside a load or a restore, their resends would store again what the erase removed.
    const QSharedPointer<ZunOperation> erase = step ? m_operations->begin(ZunLongOperation::Erase, takes)
                                                    : m_operations->beginAlone(ZunLongOperation::Erase, takes, running);
    if (!erase)
        return false;
    m_collection->onEraseSent();
    m_factoryErase = !step;
    m_eraseOperation = erase;
    setKeepAlive(false);
    CZunMetaCmd meta;
    meta.appendCmd(nr("Cmd_TCPCloseTime"), 0);
    meta.appendCmd(nr("Cmd_BulkEraseF"), 0);
    meta.appendCmd(nr("Cmd_TCPCloseTime"), after);
    SendMetaCmd(meta);
    return true;
}

void CZun::on_FlashMemoryErased(bool ok)
{
    // A map without "Inf_EraseOnly128K" reports the firmware update's own erase as well;
    // that one is the update's, not a factory reset.
    if (m_firmwareUpdating && !m_map->contains(QStringLiteral("Inf_EraseOnly128K")))
        return;
    m_collection->onErased(ok);
    // A refused erase emptied nothing: a later empty flash is not the operator's reset.
    if (!ok)
        m_factoryErase = false;
    if (ok) {
        SendCmd(72, 0);
        RefreshStatusBuffer();
        ZunWaitMs(10);
        RefreshMemDir();
    }
    // The erase gives the keep-alive back; one the processor reports by itself (at a
    // connection) turns it on as before.
    const QSharedPointer<ZunOperation> erase = std::exchange(m_eraseOperation, {});
    if (erase && erase->isRunning())
        erase->finish(ok ? ZunOperation::Outcome::Done : ZunOperation::Outcome::Refused);
    else
        giveKeepAliveBack();
    emit signal_FlashMemErased(ok);
}

void CZun::on_DefaultSettingsRestored(bool ok)
{
    const QSharedPointer<ZunOperation> restore = std::exchange(m_defaultsOperation, {});
    if (restore && restore->isRunning())
        restore->finish(ok ? ZunOperation::Outcome::Done : ZunOperation::Outcome::Refused);
    else
        giveKeepAliveBack();
    RefreshStatusBuffer();
    emit signal_DefaultSettingsRestored(ok);
}

QString CZun::GetGarbageCollectionFolder() const { return m_collection->folder(); }

bool CZun::IsRestorePending() const { return m_collection->isRunning(); }

void CZun::doGarbageCollection() { m_collection->start(); }

void CZun::BackupToDir(const QString& folder, QStringList* failed)
{
    m_firLimManager->allToFile(folder, failed);
    m_setupManager->allToFile(folder, failed);
}

ZunConfigFolder CZun::InvokeFromDir(const QString& folder)
{
    // A file refused half-way would leave a partial load: every file is read first.
    ZunConfigFolder found(this, folder);
    if (!found.canLoad())
        return found;
    QMetaObject::invokeMethod(m_firLimManager, "fromDir", zunWaitingCall(m_firLimManager), Q_ARG(QString, folder));
    QMetaObject::invokeMethod(m_setupManager, "fromDir", zunWaitingCall(m_setupManager), Q_ARG(QString, folder));
    return found;
}

bool CZun::WaitForFlashTransfers(int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    auto busy = [this]() {
        return m_firLimManager->pendingUploads() != 0 || m_setupManager->pendingUploads() != 0
            || m_memoryManager->pendingTransfers() != 0 || m_firLimManager->unsettledStores() != 0
            || m_setupManager->unsettledStores() != 0;
    };
    // Idle twice with a pause between: a setup hands its FIR sets on queued, so one
    // transfer's end may start another.
    for (int round = 0; round < 2; ++round) {
        while (busy()) {
            if (clock.elapsed() > timeoutMs || !IsConnected())
                return false;
            QThread::msleep(20);
        }
        QThread::msleep(round == 0 ? 200 : 0);
    }
    // The managers give their transfers up when the link goes: idle then is no success.
    return IsConnected();
}

bool CZun::GetProcessingStats(int* rate, int* dsp0Load, int* dsp1Load) const
{
    *rate = m_statsRate;
    *dsp0Load = m_statsLoad0;
    *dsp1Load = m_statsLoad1;
    return *rate > 0;
}

void CZun::UpdateProcessingPower(int rate0, int rate1, int cycles0, int cycles1)
{
    Q_UNUSED(rate1);
    const int rate = int(std::floor(rate0 / 1000.0 + 0.5)) * 1000;
    // No rate measured (yet): the figures keep their last values.
    if (rate <= 0)
        return;
    try {
        const int mips = GetDSPType() == 791 ? 160 : 275;
        m_sampleRate = rate;
        const int cycles = int(mips * 1000000.0 / rate);
        m_freeCycles0 = cycles - cycles0;
        m_freeCycles1 = cycles - cycles1;
        m_eqManager->CalculateAvailableEQs(m_freeCycles0, m_freeCycles1);
        const int load0 = int(100.0 * cycles0 / cycles), load1 = int(100.0 * cycles1 / cycles);
        m_statsLoad0 = load0;
        m_statsLoad1 = load1;
        m_statsRate = rate;
        emit signal_ProcessingStats(rate, load0, load1);
    } catch (const std::exception& e) {
        emit signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
    }
}

int CZun::GetFIRFilterParam(uint id) const
{
    const QShPtrFLE set = firSet(id);
    return set ? int(set->multipathMode()) : 0;
}

void CZun::SetIP(quint32 address)
{
    // The lower half follows from the reply dispatcher once the upper half is taken.
    m_image->setPendingIp(address, quint16(GetIpAddress().toIPv4Address() >> 16));
    SendCmd(nr("Cmd_IP_Hi"), quint16(address >> 16));
}

QMap<int, QString> CZun::GetClockKeys() const
{
    return GetCmdMap()->GetStringMapForKeysBeginningWith(QStringLiteral("Inf_Sel_Clk_"));
}

QMap<int, QString> CZun::GetExtClockKeys() const
{
    return GetCmdMap()->GetStringMapForKeysBeginningWith(QStringLiteral("Inf_Sel_ExtClk_"));
}

// --- delays and delay memory -------------------------------------------------------------

namespace
{
// Just under one sample period at 192000 Hz: delays computed from different rates are
// equal within it.
const double DelayEpsilon = double(5.2056220738450065e-6f);

CZunDelay capped(const CZunDelay& a, const CZunDelay& b)
{
    return a != b && a.seconds() - b.seconds() < DelayEpsilon ? a : b;
}

CZunDelay larger(const CZunDelay& m, const CZunDelay& d)
{
    return d != m && m.seconds() - d.seconds() < DelayEpsilon ? d : m;
}

bool exceeds(const CZunDelay& request, const CZunDelay& bound)
{
    return request != bound && request.seconds() - bound.seconds() > DelayEpsilon;
}

quint16 rawDelay(const CZunDelay& delay, double unitRate)
{
    return boost::numeric_cast<quint16>(delay.seconds() * unitRate + 0.5);
}

// The bound as the check applies it: the bound itself is taken, so "up to", and cut (never
// rounded up) to the microsecond, so that the value the text names is one that is taken.
QString outOfBounds(const CZunDelay& request, const CZunDelay& bound, bool stop)
{
    const double shown = std::floor(bound.milliseconds() * 1000.0 + 1e-6) / 1000.0;
    return QStringLiteral("Delay value of %1 ms is out of bounds. Valid values are up to %2 ms%3")
        .arg(request.milliseconds(), 0, 'g')
        .arg(shown, 0, 'g', 9)
        .arg(stop ? QStringLiteral(".") : QString());
}
} // namespace

CZunDelay CZun::GetMasterDelay(const int& dsp) const
{
    const quint16 w0 = word("Cmd_0_MasterDelay");
    const quint16 w1 = word("Cmd_1_MasterDelay");
    if (dsp == 0 || dsp == 1)
        return CZunDelay(w0, 24000.0);
    if (dsp == 2)
        return CZunDelay(w1, 24000.0);
    throw error(QStringLiteral("CZun::GetMasterDelay(): dsp must be 0, 1, or 2."));
}

CZunDelay CZun::GetChannelDelay(const ZunC::AnalogOutputs& output) const
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("SetChannelDelay requires channel nr. between 1 and 8."));
    return CZunDelay(word(outputName("ChDelay", output)), 96000.0);
}

CZunDelay CZun::GetInputPathDelay(ZunC::InputPaths path) const
{
    if (path == ZunC::NoPath)
        return CZunDelay();
    if (unsigned(path) > 7)
        throw error(QStringLiteral("GetInputPathDelay requires input path between 1 and 8."));
    return CZunDelay(word(pathName("InDelay", path)), 96000.0);
}

// The largest of the delay words of one DSP's four channels (0: both DSPs), at 96 kHz.
CZunDelay CZun::largestDelay(const int& dsp, const std::function<quint16(int)>& delayWord) const
{
    if (dsp < 0 || dsp > 2)
        return CZunDelay();
    const int first = dsp == 2 ? 4 : 0;
    const int last = dsp == 1 ? 3 : 7;
    quint16 largest = 0;
    for (int i = first; i <= last; ++i)
        largest = qMax(largest, delayWord(i));
    return CZunDelay(largest, 96000.0);
}

CZunDelay CZun::GetMaxInputPathDelay(const int& dsp) const
{
    return largestDelay(dsp, [this](int p) { return word(pathName("InDelay", p)); });
}

CZunDelay CZun::GetMaxChannelDelay(const int& dsp) const
{
    return largestDelay(dsp, [this](int o) { return word(outputName("ChDelay", o)); });
}

CZunDelay CZun::GetTotalChannelDelay(ZunC::AnalogOutputs output) const
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("CZun::GetTotalChannelDelay(): invalid output specified."));
    const int source = m_routingManager->GetRecord().GetSourceOfOutput(output);
    const int path = m_routingManager->GetSourceOf(source);
    return GetChannelDelay(output) + GetInputPathDelay(ZunC::InputPaths(path));
}

CZunDelay CZun::GetDSPDelayMemory() const
{
    const int rate = qMax(24000, boost::numeric_cast<int>(GetSampleRate()));
    return CZunDelay(4u * word("Cmd_0_DSP_Mem"), double(rate));
}

CZunDelay CZun::GetMasterDelayLimit() const { return capped(GetDSPDelayMemory(), CZunDelay(65535, 24000.0)); }

CZunDelay CZun::GetChannelDelayLimit() const { return capped(GetDSPDelayMemory(), CZunDelay(65535, 96000.0)); }

QShPtrFLE CZun::firSet(uint id) const { return m_firLimManager->GetFIRFilter(id); }

QShPtrFLE CZun::activeFIRSet(quint16 dsp) const
{
    const quint32 id = GetActiveFilterIndex(dsp);
    return id == 0 ? QShPtrFLE() : firSet(id);
}

// The largest FIR latency of the given outputs (numbered within the DSP) in the DSP's
// active set, at the sample rate; an empty list takes the set's largest of entries 0-2.
CZunDelay CZun::firLatency(quint16 dspCode, const QList<int>& outputs) const
{
    const QShPtrFLE set = activeFIRSet(dspCode);
    if (!set)
        return CZunDelay();
    const double rate = GetSampleRate();
    if (outputs.isEmpty())
        return CZunDelay(set->maxOutputEntryWord0(), rate);
    quint16 largest = 0;
    for (int o : outputs)
        largest = qMax(largest, set->outputEntryWord0(o % 4));
    return CZunDelay(largest, rate);
}

quint16 CZun::numDelayLines(int dspCode) const { return word(dspCode == 2 ? "Cmd_1_NumDL" : "Cmd_0_NumDL"); }

CZunDelay CZun::GetMaxAvailableMasterDelay(const quint16& dsp) const
{
    const quint16 code = dsp == 2 ? 2 : 1;
    // The active id is read for the given dsp: an invalid one fails here.
    GetActiveFilterIndex(dsp);
    const CZunDelay fir = firLatency(code, {});
    CZunDelay total;
    const int first = dsp == 2 ? 4 : 0;
    for (int o = first; o < first + 4; ++o)
        total = larger(total, GetTotalChannelDelay(ZunC::AnalogOutputs(o)));
    return (GetMasterDelayLimit() - fir) - total;
}

CZunDelay CZun::GetMaxAvailableChannelDelay(const ZunC::AnalogOutputs& output) const
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("SetChannelDelay: invalid channel specified."));
    const quint16 code = output < 4 ? 1 : 2;
    const CZunDelay fir = firLatency(code, {int(output)});
    const quint16 lines = numDelayLines(code);
    const CZunDelay master = GetMasterDelay(code);
    const CZunDelay inputs = GetMaxInputPathDelay(0);
    CZunDelay t = GetDSPDelayMemory() / lines;
    t = ((t - fir) - inputs) - master;
    return capped(t, GetChannelDelayLimit());
}

CZunDelay CZun::GetMaxAvailableInputPathDelay(ZunC::InputPaths path) const
{
    if (path == ZunC::NoPath || unsigned(path) > 7)
        return CZunDelay();
    const quint16 code = path < 4 ? 1 : 2;
    const QList<int> fed = m_routingManager->GetSlotsOfSource(m_routingManager->GetOutputSource(path));
    const CZunDelay fir = fed.isEmpty() ? CZunDelay() : firLatency(code, fed);
    const quint16 lines = numDelayLines(code);
    const CZunDelay master = GetMasterDelay(code);
    const CZunDelay outputs = GetMaxChannelDelay(0);
    return (((GetChannelDelayLimit() / lines) - fir) - outputs) - master;
}

void CZun::SetMasterDelay(const int& dsp, const CZunDelay& delay)
{
    const CZunDelay bound = GetMaxAvailableMasterDelay(quint16(dsp));
    const bool over = exceeds(delay, bound);
    const bool both = linked() || dsp == 0;
    // Both words are converted before anything is sent.
    quint16 raw0 = 0;
    quint16 raw1 = 0;
    if (both || dsp == 1)
        raw0 = rawDelay(capped(over ? GetMasterDelay(1) : delay, bound), 24000.0);
    if (both || dsp == 2)
        raw1 = rawDelay(capped(over ? GetMasterDelay(2) : delay, bound), 24000.0);
    if (both || dsp == 1)
        SendCmd(nr("Cmd_0_MasterDelay"), raw0);
    if (both || dsp == 2)
        SendCmd(nr("Cmd_1_MasterDelay"), raw1);
    if (over)
        throw error(outOfBounds(delay, bound, false));
}

void CZun::SetChannelDelay(const CZunDelay& delay, const ZunC::AnalogOutputs& output)
{
    if (unsigned(output) > 7)
        throw error(QStringLiteral("SetChannelDelay: invalid channel specified."));
    const CZunDelay bound = GetMaxAvailableChannelDelay(output);
    const bool over = exceeds(delay, bound);
    const quint16 own = nr(outputName("ChDelay", output));
    const quint16 partner = nr(outputName("ChDelay", (output + 4) % 8));
    const quint16 raw = rawDelay(capped(over ? GetChannelDelay(output) : delay, bound), 96000.0);
    CZunMetaCmd meta;
    meta.appendCmd(own, raw);
    if (linked())
        meta.appendCmd(partner, raw);
    SendMetaCmd(meta);
    if (over)
        throw error(outOfBounds(delay, bound, true));
}

void CZun::SetInputPathDelay(const CZunDelay& delay, ZunC::InputPaths path)
{
    if (path == ZunC::NoPath)
        return;
    if (unsigned(path) > 7)
        throw error(QStringLiteral("SetInputPathDelay requires input path between 1 and 8."));
    const CZunDelay bound = GetMaxAvailableInputPathDelay(path);
    const bool over = exceeds(delay, bound);
    const quint16 own = nr(pathName("InDelay", path));
    const bool hasPartner = path < 2;
    const quint16 partner = hasPartner ? nr(pathName("InDelay", 1 - path)) : 0;
    const quint16 raw = rawDelay(capped(over ? GetInputPathDelay(path) : delay, bound), 96000.0);
    CZunMetaCmd meta;
    meta.appendCmd(own, raw);
    if (hasPartner && linked())
        meta.appendCmd(partner, raw);
    SendMetaCmd(meta);
    if (over)
        throw error(outOfBounds(delay, bound, true));
}

// --- front panel, name and defaults --------------------------------------------------------

QByteArray CZun::deviceNameBytes(const QString& name)
{
    // One fixed 8-bit encoding, the one the announce is read in: exactly 24 bytes, at
    // least one blank after the name.
    QByteArray bytes = name.left(DeviceNameLength).toLatin1();
    bytes.append(QByteArray(DeviceNameLength + 1 - bytes.size(), ' '));
    return bytes;
}

QString CZun::heldDeviceName(const QString& name)
{
    return QString::fromLatin1(deviceNameBytes(name)).trimmed();
}

void CZun::SaveDeviceName(const QString& name)
{
    CZunMetaCmd meta(0xFF00, 24, deviceNameBytes(name));
    meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_SaveDeviceName"));
    SendMetaCmd(meta);
    // Not the name asked for: a longer one is cut, and the title and the network list
    // show what the processor announces.
    m_name = heldDeviceName(name);
    m_nameGiven = true;
    m_nameBeforeGiven = m_record ? m_record->rawName() : QString();
}

void CZun::SetKeyLock(bool lock) { SendCmd(nr("Cmd_KeyLock"), lock ? 1 : 255); }

quint16 CZun::pinWord(int d1, int d2, int d3, int d4)
{
    for (int d : {d1, d2, d3, d4})
        if (d < 1 || d > 8)
            throw error(QStringLiteral("A PIN digit must be between 1 and 8."));
    return quint16(d1 << 12 | d2 << 8 | d3 << 4 | d4);
}

void CZun::SetPin(quint32 pins, quint16 newPin)
{
    m_image->setPendingPin(newPin);
    SendPinStep(quint16(pins & 0xFFFF));
}

void CZun::SendPinStep(quint16 pin)
{
    CZunCmd step(nr("Cmd_Pin"), pin);
    step.setSecret();
    CZunMetaCmd meta;
    meta.append(step);
    SendMetaCmd(meta);
}

bool CZun::RestoreDefaultSettings(bool full, const CZunMetaCmd& then, QString* running)
{
    // The processor's timer comes back after the restore, unless another operation holds it off.
    const quint16 after = m_operations->holdsKeepAlive() ? 0 : 15;
    // The wizard's partial restore is a step of the wizard.
    const int takes = ZunOperation::KeepAlive | ZunOperation::EndsWithLink | (full ? 0 : ZunOperation::Unlisted);
    const QSharedPointer<ZunOperation> restore = full ? m_operations->beginAlone(ZunLongOperation::Restore, takes, running)
                                                      : m_operations->begin(ZunLongOperation::Restore, takes);
    if (!restore)
        return false;
    m_defaultsOperation = restore;
    setKeepAlive(false);
    CZunMetaCmd meta;
    if (full)
        meta.appendCmd(nr("Cmd_TCPCloseTime"), 0);
    meta.appendCmd(nr("Cmd_SetupSelect"), full ? 255 : 254);
    // Nothing comes between the defaults and what must follow them at once.
    for (const CZunCmd& c : then.commands())
        meta.append(c);
    if (full)
        meta.appendCmd(nr("Cmd_TCPCloseTime"), after);
    SendMetaCmd(meta);
    if (!full)
        return true;
    double rate = 48000.0;
    switch (word("Cmd_ClockSel")) {
    case 0: rate = 0.0; break;
    case 2: rate = 96000.0; break;
    case 3: rate = 192000.0; break;
    default: break;
    }
    const QShPtrFLE set = m_firLimManager->CreateThruFIRFilter(rate, 0);
    CheckFilterMIPS(set, 0);
    UploadFIRFilter(set, 0);
    const quint32 id = set->getKey();
    InvokeActivateFIRFilter(id, ZunC::NoCopies, id, ZunC::NoCopies);
    return true;
}

QString CZun::GetActiveDSPProgramString(quint16 dsp) const
{
    return ZunDSPProgramInfo(GetActiveDSPProgramID(dsp), GetFirmwareVersion()).displayText();
}

// --- routing configuration ---------------------------------------------------------------------

bool CZun::IsApplyingRouting() const { return m_routing->isRunning(); }
ZunTimedSteps* CZun::GetRoutingSteps() const { return m_routing->steps(); }
void CZun::SetRoutingPauseMs(int ms) { m_routing->setPauseMs(ms); }

void CZun::ApplyRoutingPreset(int clock, int extClock, int multipath1, int multipath2, int crossover,
                              const CZunRoutingPreset& routing, const QString& firFile1, const QString& firFile2,
                              const CZunInputPreset& input, ZunC::CopyFIRCoeffsMode mode1,
                              ZunC::CopyFIRCoeffsMode mode2, bool keepSettings)
{
    m_routing->apply({clock, extClock, multipath1, multipath2, crossover, firFile1, firFile2, mode1, mode2, keepSettings},
                     [this, routing, input]() { m_routingManager->SetRouting(routing, input); });
}

void CZun::ApplyFullRoutingPreset(int clock, int extClock, int multipath1, int multipath2, int crossover,
                                  const CZunFullRoutingPreset& full, const CZunRoutingPreset& routing,
                                  const CZunInputPreset& input, const QString& firFile1, const QString& firFile2,
                                  ZunC::CopyFIRCoeffsMode mode1, ZunC::CopyFIRCoeffsMode mode2, bool keepSettings)
{
    Q_UNUSED(routing);
    Q_UNUSED(input);
    m_routing->apply({clock, extClock, multipath1, multipath2, crossover, firFile1, firFile2, mode1, mode2, keepSettings},
                     [this, full]() { m_routingManager->SetFullRouting(full); });
}

// --- FIR hand-offs -------------------------------------------------------------------------

void CZun::SetCopyFIRCoeffs(int dsp, ZunC::CopyFIRCoeffsMode mode)
{
    if (mode == ZunC::Unchanged)
        return;
    if (CopyFIRCoeffsMode(dsp) == mode)
        return;
    const int d = linked() ? 0 : dsp;
    const bool old = GetFirmwareVersion() < 1075;
    if (d == 0 || d == 1)
        SendCmd(nr(old ? "Cmd_0_CopyMH2SL" : "Cmd_0_FIRCopy"), quint16(mode));
    if (d == 0 || d == 2)
        SendCmd(nr(old ? "Cmd_1_CopyMH2SL" : "Cmd_1_FIRCopy"), quint16(mode));
}

bool CZun::InvokeActivateFIRFilter(const quint32& id0, ZunC::CopyFIRCoeffsMode mode0, const quint32& id1,
                                   ZunC::CopyFIRCoeffsMode mode1)
{
    m_firLimManager->activationAsked();
    const bool queued = QMetaObject::invokeMethod(m_firLimManager, "ActivateFIRFilter", Qt::QueuedConnection,
                                                  Q_ARG(quint32, id0), Q_ARG(ZunC::CopyFIRCoeffsMode, mode0),
                                                  Q_ARG(quint32, id1), Q_ARG(ZunC::CopyFIRCoeffsMode, mode1));
    if (!queued)
        m_firLimManager->activationNotAsked();
    return queued;
}

bool CZun::InvokeUpdateLimiter(quint32)
{
    return m_firLimManager->SubmitLimiter();
}

void CZun::CheckFIRFilterResources(const quint32& id, int mode)
{
    const QShPtrFLE set = m_firLimManager->GetFIRFilter(id);
    if (set)
        CheckFilterMIPS(set, mode);
}

void CZun::CheckFilterMIPS(QShPtrFLE set, int mode)
{
    if (!set)
        return;
    // Checked on a copy: a set's bytes, and so its id, stay those the flash stores.
    CBlockFIR probe = *set;
    if (probe.dspProgramId() == 0)
        probe.checkFilterResources();
    const quint16 dspType0 = nr("Inf_DSPTyp0");
    const quint16 actual = GetFirmwareVersion() >= 1068 ? word("Cmd_0_DSP_Type") : 0;
    const ZunDSPProgramInfo program(probe.dspProgramId(), GetFirmwareVersion());
    if (program.variant() > 0 && actual == dspType0)
        throw error(QStringLiteral("Filter can not be used with Zun. Too many MIPS required."));
    emit signal_UploadDSPProgram(ZunDSPProgramInfo::linkedProgID(mode, probe.dspProgramId()));
}

void CZun::UploadFIRFilter(QShPtrFLE set, const uint& oldId) { emit signal_UploadFIRFilter(set, oldId); }

// --- long operations ---------------------------------------------------------------------

void CZun::SetLinkLossReportedByOperation(bool on) { m_operations->takeLossReport(on); }

bool CZun::IsLinkLossReportedByOperation() const { return m_operations->reportsLinkLoss(); }

void CZun::EndLinkLossReport() { m_operations->endLossReport(); }

bool CZun::IsFirmwareUpdateRunning() const { return m_firmwareUpdate->isRunning(); }
