#pragma once

#include "ZunConfigFolder.h"
#include "CZunCmd.h"
#include "CZunDelay.h"
#include "CZunHardwareInfo.h"
#include "CZunFullRoutingPreset.h"
#include "CZunInputPreset.h"
#include "CZunMetaCmd.h"
#include "CZunRoutingPreset.h"
#include "FilterLimiterEWS.h"
#include "ZunC.h"
#include "ZunLinkLosses.h"
#include "ZunOperationJournal.h"

#include <QHostAddress>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class CCmdMap;
class CEQManager;
class CMemoryManager;
class CRoutingLibrary;
class CRoutingManager;
class CZunFIRLimManager;
class CZunParam;
class CZunSetupManager;
class CZunStatusBuffer;
class ZunBaseComm;
class ZunDSPProgramManager;
class ZunDeviceStats;
class ZunGarbageCollection;
class ZunFirmwareUpdate;
class ZunOperation;
class ZunOperations;
class ZunManagerThread;
class ZunRoutingConfiguration;
class ZunTimedSteps;

// The device object: one per processor that the application controls. It owns the link
// (its own thread), the parameter image and the managers (the image and three managers
// each in a worker thread of their own). Getters read the image and never touch the
// network; setters check the value, convert it to the raw word and send it by name; the
// image changes only when the processor's reply comes back through the reply dispatcher.
//
// Lives in the GUI thread. Everything the image and the managers signal to it arrives
// queued. Destroying it stops and waits for every thread it started.
//
// Over 600 lines: the hub of every parameter and manager by design; new behaviour goes to the managers.
class CZun : public QObject
{
    Q_OBJECT
public:
    // Milliseconds of a monotonic clock; the keep-alive measures silence with it. Read
    // from the link's thread too (each reply restarts the silence).
    using Clock = std::function<qint64()>;

    CZun(QSharedPointer<ZunDeviceStats> record, QSharedPointer<CCmdMap> map,
         QSharedPointer<CRoutingLibrary> library, QObject* parent = nullptr);
    ~CZun() override;

    // --- accessors ------------------------------------------------------------------
    QString GetName() const;
    int GetNr() const { return m_nr.load(); }
    void SetNr(int nr) { m_nr.store(nr); }
    // Any thread: a firmware change replaces the map in the device object's thread.
    QSharedPointer<CCmdMap> GetCmdMap() const;
    QSharedPointer<CRoutingLibrary> GetRoutingLibrary() const { return m_library; }
    CZunStatusBuffer* GetStatusBuffer() const { return m_image; }
    CRoutingManager* GetRoutingManager() const { return m_routingManager; }
    CMemoryManager* GetMemoryManager() const { return m_memoryManager; }
    CZunSetupManager* GetSetupManager() const { return m_setupManager; }
    CEQManager* GetEQManager() const { return m_eqManager; }
    CZunFIRLimManager* GetFIRLimManager() const { return m_firLimManager; }
    ZunDSPProgramManager* GetDSPProgramManager() const { return m_dspProgramManager; }
    ZunBaseComm* GetLink() const { return m_link; }
    // A copy: the dispatcher reads it from the link's thread.
    CZunHardwareInfo GetHardwareInfo() const;
    CZunParam* GetMasterGainParam() const { return m_masterGainRange; }
    CZunParam* GetChannelGainParam() const { return m_channelGainRange; }
    CZunParam* GetMasterDelayParam() const { return m_masterDelayRange; }
    CZunParam* GetChannelDelayParam() const { return m_channelDelayRange; }
    CZunParam* GetLimiterReleaseParam() const { return m_limiterReleaseRange; }
    float GetGainStep() const { return m_gainStep; }
    float GetDelayStep() const { return m_delayStep; }
    float GetMasterDelayStep() const { return m_masterDelayStep; }
    float GetEQGainStep() const { return m_eqGainStep; }
    float GetEQFrequencyStep() const { return m_eqFrequencyStep; }
    float GetEQQualityStep() const { return m_eqQualityStep; }
    QHostAddress GetIpAddress() const;
    void SetIpAddress(const QHostAddress& address);
    void SetPort(int port);
    void SetWorkingDir(const QString& folder) { m_workingDir = folder; }
    quint16 GetFirmwareVersion() const;
    quint16 GetFirmwareSubVersion() const;
    bool IsConnected() const;
    // The link was closed on request (disconnect()), not lost, and not opened again since.
    bool IsDisconnectAsked() const { return m_disconnectAsked.load(); }
    int SendCmd(quint16 id, quint16 value);
    int SendMetaCmd(const CZunMetaCmd& meta);
    bool IsSetupModified() const;
    quint16 GetActiveSetup() const;
    QString GetActiveSetupName() const;
    void UploadSetup(const QString& file, int position);
    void RemoveSetup(int position);
    void UploadFIRFilterFile(const QString& file, uint position);
    void RemoveFIRFilter(uint id);
    void UploadDSPProgram(quint16 id);
    void ActivateDSPProgram(quint16 id0, quint16 id1);
    // The device folder ("ConfigDir"/device number): log file, dumps, caches. Empty until
    // the first connection.
    QString GetLogFolder() const;
    // The folder the window's file dialogs and FIR lists start in: the device folder.
    QString GetConfigDir() const { return GetLogFolder(); }
    bool IsRefreshPending() const { return m_refreshPending; }
    bool IsTcpCheckOn() const { return m_keepAliveOn; }
    quint16 GetTcpCloseTime() const { return m_tcpCloseTime; }
    // An operation whose own message will say that the link was lost and what that left
    // undone takes the link's loss over: the link's own message then goes to the log, so
    // that the operator gets one box for one loss. Failures that only follow from that loss
    // go to the log as well. Operations of their own take it through GetOperations(); these
    // thin calls take it for callers without one.
    void SetLinkLossReportedByOperation(bool on);
    bool IsLinkLossReportedByOperation() const;
    // The link's losses, and whether the operation in flight was cut by one (any thread).
    ZunLinkLosses& GetLinkLosses() { return m_linkLosses; }
    // Such a caller's end: while the link is up, its losses have their own box again.
    // After a loss it stays taken until the next connection, because the link's message
    // may be handled only after the caller has told its own.
    void EndLinkLossReport();
    // The long operations running now, and what each took for its time.
    ZunOperations* GetOperations() const { return m_operations; }
    ZunFirmwareUpdate* GetFirmwareUpdate() const { return m_firmwareUpdate; }
    bool IsFirmwareUpdateRunning() const; // any thread

    // Test seams: the keep-alive clock, and an observer of every group the device object
    // writes into the link (called in the sender's thread, also when not connected).
    void SetClock(Clock clock);
    void SetSendObserver(std::function<void(const CZunMetaCmd&)> observer);

    // --- gains, mutes and polarity ------------------------------------------------
    float GetMasterGain(const int& dsp) const;
    bool IsAllMuted(const int& dsp) const;
    float GetChannelGain(const ZunC::AnalogOutputs& output) const;
    bool IsChannelMuted(const ZunC::AnalogOutputs& output) const;
    bool IsChannelPhaseInverted(const ZunC::AnalogOutputs& output) const;
    float GetInputPathGain(ZunC::InputPaths path) const;
    bool IsInputPathMuted(ZunC::InputPaths path) const;
    void SetMasterGain(const int& dsp, const double& gain);
    void SetMasterMute(const int& dsp, bool mute);
    void SetChannelGain(const double& gain, const ZunC::AnalogOutputs& output);
    void SetInputPathGain(const double& gain, ZunC::InputPaths path);
    void SetChannelPhaseInversion(const ZunC::AnalogOutputs& output, const bool& invert);
    void MuteChannel(const ZunC::AnalogOutputs& output, const bool& mute);
    void MuteInputPath(ZunC::InputPaths path, const bool& mute);
    // Whether a gain written to the processor is still to be answered: a confirmation
    // that arrives meanwhile reports an earlier step, not the operator's last value.
    bool IsMasterGainPending() const;
    bool IsChannelGainPending(ZunC::AnalogOutputs output) const;
    bool IsInputPathGainPending(ZunC::InputPaths path) const;

    // --- image readers -------------------------------------------------------------
    quint16 GetActiveDSPProgramID(quint16 dsp) const;
    quint16 GetDSPType() const;
    double GetSampleRate() const;
    // The sample rate a clock choice ("Cmd_ClockSel") runs at; an external clock counts as
    // 96 kHz until a rate is measured.
    static double SampleRateOfClock(quint16 clock);
    // The processing clock the processor runs ("Cmd_ClockSel": the keys of GetClockKeys).
    quint16 GetClockSelect() const;
    quint32 GetActiveFilterIndex(quint16 dsp) const;
    ZunC::CopyFIRCoeffsMode CopyFIRCoeffsMode(int dsp) const;
    bool IsKeyLocked() const;

    // --- setups ------------------------------------------------------------------------
    // Store the current parameters as the setup at position / recall a stored setup
    // (both through the setup manager, in the caller's thread; std::logic_error).
    void SaveSetup(const quint16& position, QString name);
    void SelectSetup(const quint16& position);

    // Keep-alive on or off: sends the matching TCP close time (15 or 0).
    Q_INVOKABLE void EnableTcpCheck(bool on);
    // The keep-alive off until the returned operation ends (a step of whatever runs, listed
    // nowhere); it comes back when no operation holds it any more.
    QSharedPointer<ZunOperation> RestKeepAlive();
    // A recall rests the keep-alive until its answer (or the link giving up on it) comes
    // (GUI thread).
    Q_INVOKABLE void restKeepAliveForRecall();
    Q_INVOKABLE void on_RecallAnswered();

    // Raw gain word of a dB value (rounded half away from zero, checked against range).
    quint16 rawGain(double gain, const CZunParam* range) const;

    // --- long operations of the device services -------------------------------------
    // Whether the FIR/limiter manager has finished its start after the last connection
    // (read from the device services' thread).
    bool IsFIRManagerReady() const { return m_firManagerReady.load(); }
    // An operation checks its own stores (ZunOwnStores, any thread): a set the DSPs run that
    // the flash lacks may be what one of them replaced, and it stores that set again; it is
    // judged by the first directory read after the last check has ended.
    void holdRunningSetCheck() { ++m_runningSetChecks; }
    void releaseRunningSetCheck();
    // The last rebuild from a new image failed (and was reported): the command table does
    // not fit the image, so the managers skip their own refresh instead of reporting the
    // same fault again.
    bool IsImageUnreadable() const { return m_imageUnreadable.load(); }
    // Keep-alive off, then the whole update as one group (runs in the caller's thread).
    // A file that is missing, empty or too large is refused (std::logic_error, in the
    // operator's words) before anything is sent; every refusal leaves the keep-alive as
    // it was.
    void UpdateFirmware(const QString& file);
    // After the processor announced another firmware: new map, version, library, flash
    // constants, hardware info, routing and DSP programs.
    void ReInit(QSharedPointer<ZunDeviceStats> record, QSharedPointer<CCmdMap> map,
                QSharedPointer<CRoutingLibrary> library);

    // --- maintenance ------------------------------------------------------------------
    // The operator's erase begins only while no other long operation runs: false, with the
    // running one's text in *running, and nothing sent, when one does. The garbage
    // collection's own erase is a step of it.
    bool EraseFlashMemory(QString* running = nullptr);
    // Every FIR/limiter set and setup into the folder. With failed: the failure of each
    // that could not be written, naming the file and why (nothing told); without, a
    // failure is told.
    void BackupToDir(const QString& folder, QStringList* failed = nullptr);
    // Reads the whole folder first; only when every file can be loaded are its FIR sets
    // and setups handed to the managers (blocking queued: never call it from a manager's
    // thread). Returns what was found, for the report.
    ZunConfigFolder InvokeFromDir(const QString& folder);
    // Waits (in the caller's thread, never the GUI thread's) until no FIR set, setup or
    // DSP program is on its way to the flash, nor a store answered and not yet listed (it
    // may be sent again, after a pause); false after timeoutMs or as soon as the link is
    // lost (a lost link answers none of them).
    bool WaitForFlashTransfers(int timeoutMs) const;
    // The garbage-collection folder: the log folder with "_gc" appended (empty without one).
    QString GetGarbageCollectionFolder() const;
    // The collection's erase is on its way or its restore runs.
    bool IsRestorePending() const;
    ZunGarbageCollection* GetGarbageCollection() const { return m_collection; }
    // The address from the next start, in two halves (see CZunStatusBuffer::setPendingIp);
    // the image's signal_IpChangeFinished tells how it ended.
    void SetIP(quint32 address);
    QMap<int, QString> GetClockKeys() const;
    QMap<int, QString> GetExtClockKeys() const;
    int GetFIRFilterParam(uint id) const;
    int GetFreeCycles(int dsp) const { return dsp == 2 ? m_freeCycles1 : m_freeCycles0; }
    // The last figures of signal_ProcessingStats (sent on change only), so that a window
    // opened later shows them at once; false while none has been measured.
    bool GetProcessingStats(int* rate, int* dsp0Load, int* dsp1Load) const;
    // Whether the processor's whole image has been read since the link was made.
    bool HasImage() const { return m_hasImage.load(); }

    // --- delays and delay memory -----------------------------------------------------
    // Delay words are sample counts: master delays at 24000 Hz, output and input-path
    // delays at 96000 Hz. A setter sends a request within the bound that the delay memory
    // leaves; beyond it, it sends the old value (capped at the bound) and throws.
    CZunDelay GetMasterDelay(const int& dsp) const;
    CZunDelay GetChannelDelay(const ZunC::AnalogOutputs& output) const;
    CZunDelay GetInputPathDelay(ZunC::InputPaths path) const;
    CZunDelay GetMaxInputPathDelay(const int& dsp) const;
    CZunDelay GetMaxChannelDelay(const int& dsp) const;
    CZunDelay largestDelay(const int& dsp, const std::function<quint16(int)>& delayWord) const;
    CZunDelay GetTotalChannelDelay(ZunC::AnalogOutputs output) const;
    CZunDelay GetDSPDelayMemory() const;
    CZunDelay GetMasterDelayLimit() const;
    CZunDelay GetChannelDelayLimit() const;
    CZunDelay GetMaxAvailableMasterDelay(const quint16& dsp) const;
    CZunDelay GetMaxAvailableChannelDelay(const ZunC::AnalogOutputs& output) const;
    CZunDelay GetMaxAvailableInputPathDelay(ZunC::InputPaths path) const;
    void SetMasterDelay(const int& dsp, const CZunDelay& delay);
    void SetChannelDelay(const CZunDelay& delay, const ZunC::AnalogOutputs& output);
    void SetInputPathDelay(const CZunDelay& delay, ZunC::InputPaths path);

    // --- front panel, name and defaults ------------------------------------------------
    // The name goes to the processor as exactly 24 Latin-1 bytes (at most 23 characters,
    // blank padded); the device object's name becomes what the processor then holds.
    static constexpr int DeviceNameLength = 23;
    void SaveDeviceName(const QString& name);
    static QByteArray deviceNameBytes(const QString& name);
    // The name as the processor holds and announces it after SaveDeviceName(name).
    static QString heldDeviceName(const QString& name);
    void SetKeyLock(bool lock);
    // pins = old PIN | new PIN << 16; the command carries the old PIN, the reply
    // dispatcher sends the new one when the processor has accepted it.
    void SetPin(quint32 pins, quint16 newPin);
    // One PIN step: the value never reaches any output (debug, log).
    void SendPinStep(quint16 pin);
    // PIN word of four digits 1-8, the first digit in the top four bits.
    static quint16 pinWord(int d1, int d2, int d3, int d4);
    // then: commands the restore's group carries right after the defaults. The full restore
    // begins only while no other long operation runs (false, as the erase); the partial one
    // is a step of the configuration wizard.
    bool RestoreDefaultSettings(bool full, const CZunMetaCmd& then = CZunMetaCmd(), QString* running = nullptr);
    QString GetActiveDSPProgramString(quint16 dsp) const;

    // --- routing configuration -----------------------------------------------------------
    void ApplyRoutingPreset(int clock, int extClock, int multipath1, int multipath2, int crossover,
                            const CZunRoutingPreset& routing, const QString& firFile1, const QString& firFile2,
                            const CZunInputPreset& input, ZunC::CopyFIRCoeffsMode mode1,
                            ZunC::CopyFIRCoeffsMode mode2, bool keepSettings);
    void ApplyFullRoutingPreset(int clock, int extClock, int multipath1, int multipath2, int crossover,
                                const CZunFullRoutingPreset& full, const CZunRoutingPreset& routing,
                                const CZunInputPreset& input, const QString& firFile1, const QString& firFile2,
                                ZunC::CopyFIRCoeffsMode mode1, ZunC::CopyFIRCoeffsMode mode2, bool keepSettings);
    // The pause between the steps of a routing configuration (100 ms; tests shorten it).
    void SetRoutingPauseMs(int ms);
    // A routing configuration's steps run from the event loop after the Apply call has
    // returned; they end with signal_Finished (a failure is also reported as an exception).
    ZunTimedSteps* GetRoutingSteps() const;
    bool IsApplyingRouting() const;
    // Test seam: whether the first start of the FIR/limiter manager on a flash without
    // any set stores and activates the pass-through set (default true).
    void SetPassThroughOnEmptyFlash(bool on) { m_passThroughOnEmptyFlash = on; }
    // --- FIR hand-offs to the FIR/limiter and DSP-program managers ---------------------
    // Copy mode of a DSP's FIR coefficients (-1 keeps it); both DSPs while linked.
    void SetCopyFIRCoeffs(int dsp, ZunC::CopyFIRCoeffsMode mode);
    bool InvokeActivateFIRFilter(const quint32& id0, ZunC::CopyFIRCoeffsMode mode0, const quint32& id1,
                                 ZunC::CopyFIRCoeffsMode mode1);
    // Stores the limiter edits of the active FIR sets; call it in the thread that edits
    // them (the id is not used).
    bool InvokeUpdateLimiter(quint32 id);
    // The stored set's DSP program in that copy mode must be one the DSP can run; the
    // program is uploaded when the flash lacks it. Throws when the set cannot run.
    void CheckFIRFilterResources(const quint32& id, int mode);
    void CheckFilterMIPS(QShPtrFLE set, int mode);
    // Returns once the manager has started the upload (blocking queued).
    void UploadFIRFilter(QShPtrFLE set, const uint& oldId);

public slots:
    void SetHardwareInfo(quint64 value);
    void ResetBuffers();
    void onFirLimManagerInitialized();
    void onSocketCreated();
    void on_connected();
    void on_disconnected();
    void on_MemDirChanged();
    void on_StatusBufferChanged();
    void on_CmdMapChanged();
    void on_DSPInitialized(bool ok, quint16 id0, quint16 id1);
    void on_RoutingPreset(bool, int);
    void on_SetupModified();
    void RefreshStatusBuffer();
    void requestCmdStatus(quint16 cmd);
    void RefreshMemDir();
    void on_LowFlashMemory();
    void on_FlashMemoryErased(bool ok);
    void on_DefaultSettingsRestored(bool ok);
    void doGarbageCollection();
    void UpdateProcessingPower(int rate0, int rate1, int cycles0, int cycles1);
    void onNetworkError(QString text);
    void triggerTcpCheck();
    // Any thread: a reply arrived, the silence starts again.
    void resetTcpCheckTime();
    void connect(bool autoConnect);
    void connect();
    void disconnect();
    void printToLog(QString text);
    // A full image read-back failed: read it again a bounded number of times while the
    // link is up, then tell the operator once; later refreshes must still run.
    void on_ImageRefreshFailed();
    // A directory read brought no directory (another client's block may have taken the
    // processor's one transfer buffer between the copy and the read): read again, twice
    // at most.
    void on_MemDirReadFailed();

signals:
    void signal_ZunStatusChanged();
    void signal_MasterGain(int, double);
    void signal_MasterDelay(int, CZunDelay);
    void signal_MasterMute(bool);
    void signal_ChannelGain(ZunC::AnalogOutputs, double);
    void signal_ChannelDelay(ZunC::AnalogOutputs, CZunDelay);
    void signal_ChannelInvert(ZunC::AnalogOutputs, bool);
    void signal_ChannelMute(ZunC::AnalogOutputs, bool);
    void signal_InputPathGain(ZunC::InputPaths, double);
    void signal_InputPathDelay(ZunC::InputPaths, CZunDelay);
    void signal_InputPathMute(ZunC::InputPaths, bool);
    void signal_ClockChanged(int, double);
    void signal_DSPProgramSelect(bool, quint16, quint16);
    void signal_HardwareInfoUpdated(quint32, CZunHardwareInfo);
    void signal_ListDSPProgramsRefreshed();
    void signal_ListFIRFiltersRefreshed();
    void signal_Connected();
    void signal_Disconnected();
    void signal_DefaultSettingsRestored(bool);
    void signal_FlashMemErased(bool);
    void signal_SetupModified();
    void signal_LowFlashMemory();
    void signal_FrontPanelLocked(bool);
    void signal_UploadFIRFilter(QShPtrFLE, uint);
    void signal_UploadFIRFilter(QString, uint);
    void signal_RemoveFIRFilter(uint);
    void signal_ActivateFIRFilter(ulong, ZunC::CopyFIRCoeffsMode, ulong, ZunC::CopyFIRCoeffsMode);
    void signal_UploadSetup(QString, int);
    void signal_RemoveSetup(int);
    void signal_UploadDSPProgram(quint16);
    void signal_ActivateDSPProgram(quint16, quint16);
    // Text first, caption second.
    void signal_exception(QString text, QString caption);
    void signal_LogMessage(QString text, bool error = false);
    void signal_StatusBarMessage(QString, int);
    void signal_ProcessingStats(int, int, int);

public:
    // A per-channel parameter's command name ("Cmd_1_ChGain2"), formatted without a heap
    // allocation: every edit and every confirmation of a channel looks up a few of them.
    struct CmdName
    {
        char text[40];
        operator const char*() const { return text; }
    };

private:
    quint16 nr(const char* name) const;
    quint16 nr(const QString& name) const;
    quint16 word(const char* name) const;
    quint16 word(const QString& name) const;
    // Both masters at most ceiling dB, one group; a master already lower stays where it stands.
    CZunMetaCmd mastersAtMost(double ceiling) const;
    bool linked() const;
    float gainOf(quint16 raw) const;
    void checkGain(double gain, const CZunParam* range) const;
    static CmdName outputName(const char* param, int output);
    static CmdName pathName(const char* param, int path);
    void sendOutput(const char* param, int output, quint16 value);
    void sendPath(const char* param, int path, quint16 value);
    void setKeepAlive(bool on);
    // On, unless an operation holds it off.
    void giveKeepAliveBack();
    qint64 now() const;
    void startWorker(QObject* object, ZunManagerThread*& thread);
    static bool stopWorker(ZunManagerThread*& thread);

    QString m_name;
    // The discovery record: a processor found by a network scan is named by it only later.
    QSharedPointer<ZunDeviceStats> m_record;
    bool m_nameGiven = false; // SaveDeviceName named it: that name holds
    QString m_nameBeforeGiven; // what the record announced then: until it announces another
    ZunBaseComm* m_link = nullptr;
    // Read by the managers' threads too; replaced only under m_mapMutex.
    mutable QMutex m_mapMutex;
    QSharedPointer<CCmdMap> m_map;
    std::atomic<int> m_nr{0};
    CMemoryManager* m_memoryManager = nullptr;
    CRoutingManager* m_routingManager = nullptr;
    QSharedPointer<CRoutingLibrary> m_library;
    CEQManager* m_eqManager = nullptr;
    CZunStatusBuffer* m_image = nullptr;
    CZunFIRLimManager* m_firLimManager = nullptr;
    CZunSetupManager* m_setupManager = nullptr;
    ZunDSPProgramManager* m_dspProgramManager = nullptr;
    mutable QMutex m_hardwareMutex;
    CZunHardwareInfo m_hardwareInfo;
    CZunParam* m_masterGainRange = nullptr;
    CZunParam* m_masterDelayRange = nullptr;
    CZunParam* m_channelGainRange = nullptr;
    CZunParam* m_channelDelayRange = nullptr;
    CZunParam* m_limiterReleaseRange = nullptr;
    QString m_workingDir;
    mutable QMutex m_folderMutex;
    QString m_logFolder;
    std::atomic<qint64> m_keepAliveStart{-1}; // -1: the clock has not been started
    float m_eqGainStep = 0.1f;
    float m_eqFrequencyStep = 0.5f;
    float m_eqQualityStep = 0.0025f;
    float m_gainStep = 0.1f;
    float m_delayStep = 0.0f;
    float m_masterDelayStep = 0.0f;
    int m_sampleRate = 96000;
    int m_freeCycles0 = 1666;
    int m_freeCycles1 = 1666;
    std::atomic<int> m_statsRate{0};
    std::atomic<int> m_statsLoad0{0};
    std::atomic<int> m_statsLoad1{0};
    std::atomic<bool> m_hasImage{false};
    bool m_refreshPending = false;
    int m_refreshRetries = 0; // further reads of the image since its last good one
    bool m_autoConnect = true;
    bool m_keepAliveOn = true;
    quint16 m_tcpCloseTime = 15;
    std::atomic<bool> m_firManagerReady{false};
    std::atomic<int> m_runningSetChecks{0};
    std::atomic<bool> m_disconnectAsked{false};
    std::atomic<bool> m_imageUnreadable{false};
    ZunLinkLosses m_linkLosses;
    ZunManagerThread* m_dspProgramThread = nullptr;
    ZunManagerThread* m_firLimThread = nullptr;
    ZunManagerThread* m_setupThread = nullptr;

    Clock m_clock;
    QMutex m_observerMutex;
    std::function<void(const CZunMetaCmd&)> m_sendObserver;

    // Maintenance, delays and the routing configuration.
    QShPtrFLE firSet(uint id) const;
    QShPtrFLE activeFIRSet(quint16 dsp) const;
    CZunDelay firLatency(quint16 dspCode, const QList<int>& outputs) const;
    quint16 numDelayLines(int dspCode) const;
    friend class ZunRoutingConfiguration; // its steps look up command numbers as this object does
    friend class ZunFirmwareUpdate;       // it turns the keep-alive off and marks the update
    std::unique_ptr<ZunRoutingConfiguration> m_routing;
    bool m_passThroughOnEmptyFlash = true;
    // The sets the DSPs run that the flash lacks, DSP 1's first, each once (none: empty); the
    // operator is told once per such list.
    QList<quint32> unstoredRunningSets();
    QList<quint32> m_unstoredSetsTold;
    // A DSP whose set words name no stored set, but whose low word (the first of the pair an
    // activation sends) is that of a stored set, was cut between its words: the load never
    // went, and the DSP runs what it ran. Its words are named again for the stored set that
    // owns the high word left there (or none), and nothing is loaded; where that set can not
    // be told, the DSP is left as it runs and the operator is told once. True when a DSP
    // was cut so.
    bool repairCutActivation();
    // The operator's own erase was sent: the directory read after it finds the flash at
    // factory state, which gets the pass-through set stored and running (GUI thread).
    bool m_factoryErase = false;
    int m_memDirRereads = 0; // directory reads again since the last directory taken
    bool m_lowMemoryOffered = false; // a garbage collection was offered on this link for the flash running low
    // Set by a firmware update: with a map that cannot tell the update's erase from a
    // factory reset, that erase must not run the erase completion.
    std::atomic<bool> m_firmwareUpdating{false};
    // While a lost connection is handled: a reconnect the link made meanwhile does not
    // count yet for what that loss ends (the loss's own report still comes).
    std::atomic<bool> m_losingLink{false};
    ZunGarbageCollection* m_collection = nullptr; // a child: the collection's transaction
    ZunOperations* m_operations = nullptr;        // a child
    ZunFirmwareUpdate* m_firmwareUpdate = nullptr; // a child
    // The erase and the default settings' restore in flight (GUI thread).
    QSharedPointer<ZunOperation> m_recallRest;
    // What earlier operations left unfinished is named once a connection has read the
    // processor's lists (onFirLimManagerInitialized).
    // The program's own store of the pass-through set (an empty flash at a connection),
    // run by both DSPs.
    void runPassThroughSet();
    void nameUnfinishedOperations(const QList<ZunOperationJournal::Entry>& left);
    QSharedPointer<ZunOperation> m_eraseOperation;
    QSharedPointer<ZunOperation> m_defaultsOperation;
};
