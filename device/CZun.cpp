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
#include "ZunDSPProgramInfo.h"
#include "ZunDSPProgramManager.h"
#include "ZunDeviceStats.h"
#include "ZunLogFile.h"
#include "ZunManagerThread.h"
#include "ZunMetaTypes.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSettings>
#include <QTcpSocket>

#include <cmath>
#include <stdexcept>

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
    : QObject(parent), m_map(std::move(map)), m_library(std::move(library)), m_clock(monotonicMs)
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
    QObject::connect(m_routingManager, &CRoutingManager::signal_exception, this,
                     [this](QString caption, QString text) { emit signal_exception(text, caption); });
    const quint16 routing = record->routingWord();
    m_routingManager->rebuild(routing == 0 ? 0x1191 : routing);

    m_image = new CZunStatusBuffer(this);
    startWorker(m_image, m_imageThread);
    QObject::connect(m_image, &CZunStatusBuffer::signal_TcpChecked, this, &CZun::resetTcpCheckTime, Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_ZunOutOfSync, this, &CZun::RefreshStatusBuffer, Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_StatusBufferChanged, this, &CZun::on_StatusBufferChanged,
                     Qt::QueuedConnection);
    QObject::connect(m_image, &CZunStatusBuffer::signal_DSPInitialized, this, &CZun::on_DSPInitialized,
                     Qt::QueuedConnection);
    // signal_FactoryReset -> on_FlashMemoryErased and signal_DefaultSettingsRestored ->
    // on_DefaultSettingsRestored come with the maintenance operations.
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

    QObject::connect(m_link, &ZunBaseComm::signal_CmdProcessed, m_image, &CZunStatusBuffer::cmdCallback);

    m_freeCycles0 = m_freeCycles1 = 1666;
    m_restorePending = false;
    m_sampleRate = 96000;
    m_name = record->getName();
}

void CZun::startWorker(QObject* object, ZunManagerThread*& thread)
{
    thread = new ZunManagerThread();
    thread->start();
    object->moveToThread(thread);
}

// Quits a worker thread and waits for it. A thread that does not end in time is left
// running (and its object alive): deleting a running QThread aborts the program.
bool CZun::stopWorker(ZunManagerThread*& thread)
{
    if (!thread)
        return true;
    thread->quit();
    if (!thread->wait(ThreadStopMs)) {
        qWarning() << "CZun: a worker thread did not stop in time; it is left running";
        thread = nullptr;
        return false;
    }
    delete thread;
    thread = nullptr;
    return true;
}

CZun::~CZun()
{
    // No more replies into the image while it goes away.
    QObject::disconnect(m_link, nullptr, m_image, nullptr);
    QObject::disconnect(m_link, nullptr, this, nullptr);
    // Reverse order of construction.
    if (stopWorker(m_setupThread))
        delete m_setupManager;
    if (stopWorker(m_firLimThread))
        delete m_firLimManager;
    if (stopWorker(m_dspProgramThread))
        delete m_dspProgramManager;
    if (stopWorker(m_imageThread))
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
        QMetaObject::invokeMethod(m_link, "disconnectZun", Qt::BlockingQueuedConnection);
    delete m_link; // quits and waits for the link thread
}

// --- accessors ------------------------------------------------------------------------

QString CZun::GetName() const { return m_name; }

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

quint16 CZun::nr(const char* name) const { return m_map->getCmdNr(name); }
quint16 CZun::nr(const QString& name) const { return m_map->getCmdNr(name); }
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
}

void CZun::ResetBuffers() { m_link->resetBuffer(); }

void CZun::on_DSPInitialized(bool ok, quint16 id0, quint16 id1) { emit signal_DSPProgramSelect(ok, id0, id1); }

void CZun::on_RoutingPreset(bool, int) { RefreshStatusBuffer(); }

void CZun::on_SetupModified() { emit signal_SetupModified(); }

void CZun::on_LowFlashMemory()
{
    if (m_memoryManager->deletedCount() != 0)
        emit signal_LowFlashMemory();
}

void CZun::on_ImageRefreshFailed() { m_refreshPending = false; }

void CZun::onFirLimManagerInitialized()
{
    // Creating and activating a pass-through FIR set when the flash holds none comes with
    // the FIR/limiter manager.
    QMetaObject::invokeMethod(m_setupManager, "initialize", Qt::BlockingQueuedConnection);
    m_firManagerReady = true;
}

void CZun::on_MemDirChanged()
{
    QMetaObject::invokeMethod(m_dspProgramManager, "initialize", Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(m_firLimManager, "initialize", Qt::BlockingQueuedConnection);
    const QString folder = GetLogFolder();
    if (folder.isEmpty())
        return;
    QDir gc(folder + QStringLiteral("_gc"));
    // A pending restore from the backup folder is run by the maintenance operations.
    if (m_restorePending)
        return;
    if (gc.exists())
        gc.removeRecursively();
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
    // The rebuild keeps the processor busy without TCP traffic: keep-alive off, and back
    // on afterwards on every path, also when a step throws.
    const bool keepAlive = m_keepAliveOn;
    setKeepAlive(false);
    struct Restore
    {
        CZun* zun;
        bool on;
        ~Restore() { zun->setKeepAlive(on); }
    } restore{this, keepAlive};

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
    } catch (const std::exception& e) {
        // Reported to the user like any failure of a queued slot; nothing escapes the
        // event loop.
        m_routingManager->BlockRecalculation(false);
        try {
            setFlashSize();
        } catch (...) {
        }
        emit signal_ZunStatusChanged();
        emit signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
        return;
    }
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
                     Qt::QueuedConnection);
    QObject::connect(socket, &QTcpSocket::connected, this, &CZun::on_connected, Qt::QueuedConnection);
    QObject::connect(socket, &QTcpSocket::disconnected, this, &CZun::on_disconnected, Qt::QueuedConnection);
}

void CZun::connect(bool autoConnect)
{
    m_autoConnect = autoConnect;
    if (!autoConnect)
        m_keepAliveOn = false;
    m_firManagerReady = false;
    // The socket's signals must be wired before it can report the connection: wait until
    // the link thread runs its event loop (so the socket exists), then wire it here.
    QMetaObject::invokeMethod(m_link, []() {}, Qt::BlockingQueuedConnection);
    onSocketCreated();
    QMetaObject::invokeMethod(m_link, "connectZun", Qt::BlockingQueuedConnection);
}

void CZun::connect() { connect(true); }

void CZun::disconnect()
{
    QMetaObject::invokeMethod(m_link, "disconnectZun", Qt::BlockingQueuedConnection);
}

void CZun::on_connected()
{
    m_refreshPending = false;
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
        if (!CCmdMap::hasVersion(GetFirmwareVersion()))
            emit signal_exception(QStringLiteral("Firmware Version %1 is not supported").arg(GetFirmwareVersion()),
                                  QStringLiteral("Warning"));
    }
    m_keepAliveStart = now();
}

void CZun::on_disconnected()
{
    m_refreshPending = false;
    emit signal_Disconnected();
}

void CZun::onNetworkError(QString text)
{
    QMetaObject::invokeMethod(m_link, "disconnectZun", Qt::BlockingQueuedConnection);
    emit signal_exception(text, QStringLiteral("Network error"));
}

void CZun::setKeepAlive(bool on)
{
    m_keepAliveOn = on;
    m_keepAliveStart = now();
    m_tcpCloseTime = on ? 15 : 0;
    if (m_map->contains(QStringLiteral("Cmd_TCPCloseTime")))
        SendCmd(nr("Cmd_TCPCloseTime"), m_tcpCloseTime);
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
    const qint64 t = m_keepAliveStart < 0 ? 0 : now() - m_keepAliveStart;
    if (t > 10000) {
        onNetworkError(QStringLiteral("The connection to Zun nr. %1 seems to be lost. Time out: %2").arg(GetNr()).arg(t));
    } else if (t > 5000) {
        if (m_map->contains(QStringLiteral("Cmd_TCPCloseTime")))
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
    if (m_map->contains(QStringLiteral("Cmd_SetupFlags")) && nr("Cmd_SetupFlags") != cmd)
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

QString CZun::outputName(const char* param, int output)
{
    return QStringLiteral("Cmd_%1_%2%3").arg(output / 4).arg(QLatin1String(param)).arg(output % 4);
}

QString CZun::pathName(const char* param, int path)
{
    return QStringLiteral("Cmd_%1_%2%3").arg(path / 4).arg(QLatin1String(param)).arg(QChar('A' + path));
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

void CZun::SetMasterMute(const int& dsp, bool mute)
{
    const quint16 v = mute ? 1 : 0;
    if (dsp == 0 || linked()) {
        SendCmd(nr("Cmd_0_MasterMute"), v);
        SendCmd(nr("Cmd_1_MasterMute"), v);
    } else if (dsp == 1) {
        SendCmd(nr("Cmd_0_MasterMute"), v);
    } else if (dsp == 2) {
        SendCmd(nr("Cmd_1_MasterMute"), v);
    }
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

double CZun::GetSampleRate() const
{
    if (m_sampleRate != 0)
        return m_sampleRate;
    switch (word("Cmd_ClockSel")) {
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

// --- delays ------------------------------------------------------------------------
// Placeholders until the delay memory is modelled; the channels already call them.

CZunDelay CZun::GetChannelDelay(const ZunC::AnalogOutputs&) const
{
    throw std::logic_error("CZun::GetChannelDelay(): not available yet");
}

void CZun::SetChannelDelay(const ZunC::AnalogOutputs&, const CZunDelay&)
{
    throw std::logic_error("CZun::SetChannelDelay(): not available yet");
}

CZunDelay CZun::GetInputPathDelay(ZunC::InputPaths) const
{
    throw std::logic_error("CZun::GetInputPathDelay(): not available yet");
}

void CZun::SetInputPathDelay(ZunC::InputPaths, const CZunDelay&)
{
    throw std::logic_error("CZun::SetInputPathDelay(): not available yet");
}

// --- long operations of the device services ------------------------------------------

void CZun::UpdateFirmware(const QString&)
{
    throw std::logic_error("CZun::UpdateFirmware(): not available yet");
}

void CZun::ReInit(QSharedPointer<ZunDeviceStats>, QSharedPointer<CCmdMap>, QSharedPointer<CRoutingLibrary>)
{
    throw std::logic_error("CZun::ReInit(): not available yet");
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
    return QMetaObject::invokeMethod(m_firLimManager, "ActivateFIRFilter", Qt::QueuedConnection, Q_ARG(quint32, id0),
                                     Q_ARG(ZunC::CopyFIRCoeffsMode, mode0), Q_ARG(quint32, id1),
                                     Q_ARG(ZunC::CopyFIRCoeffsMode, mode1));
}

bool CZun::InvokeUpdateLimiter(quint32 id)
{
    return QMetaObject::invokeMethod(m_firLimManager, "UpdateLimiter", Qt::QueuedConnection, Q_ARG(quint32, id));
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
