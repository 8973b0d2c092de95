#pragma once

#include "CZunCmd.h"
#include "ZunCmdNumbers.h"
#include "ZunFilterParams.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QReadWriteLock>
#include <QSharedPointer>
#include <QString>

#include <atomic>

class CCmdMap;
class CZun;

// The mirror of one processor's parameter memory: 1,700 16-bit words (little-endian),
// word n holding the parameter whose command number is n. Getters of the device object
// read it; the reply dispatcher (cmdCallback, running in the link's thread)
// writes it. Every access to the bytes is under the (non-recursive) read/write lock.
//
// Without a device the same class carries a stored setup.
//
// Over 600 lines: the reply dispatcher writes the words under the lock the accessors read them with.
class CZunStatusBuffer : public QObject
{
    Q_OBJECT
public:
    static constexpr int ImageWords = 1700;
    static constexpr int ImageBytes = 2 * ImageWords;
    static constexpr int DSP0Offset = 180;   // bytes of DSP 0's block
    static constexpr int DSP1Offset = 1720;  // bytes of DSP 1's block
    static constexpr int DSPBlockBytes = 1500;
    static constexpr int SetupNameOffset = 3376;
    static constexpr int SetupNameBytes = 24;

    explicit CZunStatusBuffer(CZun* owner);
    CZunStatusBuffer();
    explicit CZunStatusBuffer(const QByteArray& image);
    ~CZunStatusBuffer() override = default;

    void setCmdMap(CZun* owner);

    // cmd must be below 1,700; a larger number reads 0 / stores nothing.
    quint16 getValue(const quint16& cmd) const;
    void setValue(const quint16& cmd, const quint16& value);
    // Replaces the whole image (3,400 bytes expected: anything else is refused with a
    // warning and returns false) and emits signal_StatusBufferChanged.
    bool setImage(QByteArray image);
    QByteArray toByteArray() const;
    quint32 GetCRC();

    bool isLinked() const;
    // Links or unlinks the DSPs at the processor. Throws std::logic_error when there is no
    // device or it is not connected (a local change alone would leave image and processor
    // apart).
    void SetLinked(bool on);
    bool AreDSPBlocksEqual() const;
    void UploadImage();

    void SetSetupName(const QString& name);
    QString GetSetupName() const;

    bool isModified() const { return m_modified.load(); }
    void clearModified() { m_modified.store(false); }
    QList<quint16> ignoreList() const;

    float stepEQGain() const { return m_stepEQG; }
    float stepEQFrequency() const { return m_stepEQF; }
    float stepEQQuality() const { return m_stepEQQ; }
    float stepGain() const { return m_stepGain; }
    float stepDelay() const { return m_stepDelay; }
    float stepMasterDelay() const { return m_stepMDelay; }
    quint16 masterDelayFactor() const { return m_mdelayFactor; }

    // The new PIN that the second PIN step sends (set by CZun::SetPin).
    void setPendingPin(quint16 pin) { m_pendingPin.store(pin); }
    quint16 pendingPin() const { return m_pendingPin.load(); }
    // An address change for the next start goes in two halves, the upper first, each sent
    // once the processor has taken the one before: a refused half never leaves a mixed
    // address behind (after a refused lower half the old upper half is put back). Set by
    // CZun::SetIP; the change ends with signal_IpChangeFinished.
    enum IpChangeOutcome { IpStored, IpRefused, IpPutBack, IpMixed, IpUnanswered };
    void setPendingIp(quint32 asked, quint16 oldHigh);
    bool isIpChangePending() const { return m_pendingIp.load() != 0; }
    // Whether a finished bulk erase of that value is a factory reset: every erase but the
    // one before a firmware upload, and every erase when the map cannot tell them apart.
    static bool isFactoryErase(bool mapHasEraseOnly128K, quint16 eraseOnly128K, quint16 value)
    {
        return !mapHasEraseOnly128K || value != eraseOnly128K;
    }

    // --- setup import ------------------------------------------------------------------
    // Replaces this image by source (a stored image of firmware `version`) converted for the
    // firmware of target (this image's owner when null; 1080 when neither exists). The
    // conversion runs on a copy: on failure (std::logic_error, CCmdMap::invalid_cmd) this
    // image is unchanged.
    void importSetup(const CZunStatusBuffer& source, quint16 version, CZun* target = nullptr);
    // Fixed 8-bit encoding of setup names (the processor shows them as single bytes).
    static QByteArray encodeSetupName(const QString& name);
    static QString decodeSetupName(const QByteArray& bytes);

    // The link's replies as it hands them over, in its thread and order (connected
    // directly: the link holds its buffer meanwhile, so they are only kept here), and
    // their handling right after the link's read has let go of it. Replies that came
    // without a read (a time-out, an unsent command) are handled by a queued call;
    // takenAfterRead: a read brought it, and takeReplies follows that read.
    void keepReply(CZunCmd cmd, bool takenAfterRead = false);
    // Stores into the flash the processor has answered (refused ones too), counted in the
    // order of the link's replies: a directory read later lists each one that was stored.
    quint64 storesAnswered() const { return m_storesAnswered.load(); }
    void takeReplies();

public slots:
    void cmdCallback(CZunCmd cmd);
    void initConstants();

signals:
    void signal_ZunOutOfSync();
    void signal_StatusBufferChanged();
    void signal_MemCopyFinished();
    void signal_FlashErased();
    void signal_WaitLoop(quint16);
    void signal_BlockCheckFinished(bool);
    void signal_BlockTransferFinished(quint16);
    // The processor's verdict on an uploaded firmware.
    void signal_FirmwareCheckFinished(bool);
    // The check got no verdict: the link gave the update up before the processor answered.
    void signal_FirmwareCheckUnanswered();
    // A block of a running firmware update refused: the update's own end tells it.
    void signal_FirmwareBlockRefused(QString reason);
    void signal_Block_ID_Flash();
    void signal_DSPProgUploaded(bool);
    void signal_FIRUploaded(bool);
    // A store into the flash was refused, with the processor's code: emitted just before
    // the refused upload's own signal, to the same receivers in the same order.
    void signal_StoreRefused(quint16 kind, quint16 code);
    void signal_FIRDownloaded(int, QByteArray);
    void signal_FIRFilterRemoved(uint);
    void signal_SetupUploaded(bool, int);
    void signal_SetupDownloaded(int, QByteArray);
    void signal_SetupRemoved(int);
    void signal_HardwareFlags(quint64);
    void signal_SetupSelect(bool, int);
    // The link gave up on a command (no reply). wentOut: it had gone to the processor,
    // which may have run it or not; otherwise it did not run. Emitted before the
    // command's own failure signal.
    void signal_Unanswered(quint16 cmd, quint16 value, bool wentOut);
    // The processor's answer to a setup store: false when it refused the store or the link
    // gave up on it (the image then stays modified).
    void signal_SetupStored(bool);
    void signal_DSPInitialized(bool, quint16, quint16);
    void signal_FIRFilterSelect(bool, int, uint);
    void signal_FactoryReset(bool);
    void signal_RoutingPreset(bool, int);
    void signal_DefaultSettingsRestored(bool);
    void signal_SetupModified();
    void signal_LinkChanged(bool);
    void signal_StatusBarMessage(QString, int);
    void signal_DSPProgramListEntry(quint16, QString);
    void signal_NewMeterValues(quint16, QByteArray);
    void signal_TcpChecked();
    // A full image read-back failed (refused, not sent or a malformed block): the device
    // object clears its refresh-pending flag so that later refreshes still run.
    void signal_ImageRefreshFailed();
    // An address change has ended (IpChangeOutcome); cmd and value name the half the
    // processor refused or left unanswered (both 0 when the address was stored).
    void signal_IpChangeFinished(int outcome, quint16 cmd, quint16 value);

private slots:
    // initConstants for the map's change signal, which reaches the image in its worker
    // thread: a failure is reported, it must not leave the thread's event loop.
    void on_CmdMapChanged();

private:
    void report(const QString& text);
    void dispatch(const CZunCmd& cmd);
    void setupSelectFinished(bool ok, quint16 position);
    void blockReply(quint16 v, const QByteArray& payload, bool err);
    void flashBlock(const QByteArray& payload);
    bool statusWord(quint16 w);
    void flashStep(quint16 v, bool err, quint16 code);
    void loadKoef(quint16 c, quint16 w, bool err);
    void tail(quint16 c, quint16 w, bool err, bool handled);
    void writeDump(const QString& name, const QByteArray& payload);
    bool imageReadBackFailed(const CZunCmd& cmd) const;
    quint16 nr(const char* name) const;
    // Whether c is the command the map names so; a name the firmware lacks matches
    // nothing, so one missing name cannot stop every later reply. Dispatcher only.
    bool is(quint16 c, const char* name) const;
    // The index of c in the inclusive range first..last of the map, or -1; the channel of c
    // in a DSP 0 range (0-3) or a DSP 1 range (4-7), or -1. Dispatcher only.
    int indexIn(quint16 c, const char* first, const char* last) const;
    int channelOf(quint16 c, const char* first0, const char* last0, const char* first1, const char* last1) const;
    quint16 firmware() const;
    // Audio parameter replies; each returns true when it took the reply.
    bool masterReply(quint16 c, quint16 w, bool err);
    bool channelReply(quint16 c, quint16 w, bool err);
    // Whether c is one of the per-channel words named (for each kind: the first and last
    // word on DSP 0, the first and last on DSP 1); if so, its kind, its channel (0-7) and
    // the value to show, the image taking w unless the processor refused it.
    bool channelWord(const char* const (*names)[4], int kinds, quint16 c, quint16 w, bool err, int* kind,
                     int* channel, quint16* value);
    bool inputReply(quint16 c, quint16 w, bool err);
    void masterMuteRefused(quint16 c, quint16 asked);
    // One answer to a half of the address change (taken: the processor holds it).
    void ipReply(quint16 c, quint16 v, bool taken, bool unanswered);
    bool masterMuted() const;
    bool locateRecordWord(quint16 c, const char* base0Name, const char* base1Name, const char* sizeName, int* dsp,
                          int* offset) const;
    bool eqReply(quint16 c, quint16 v, bool err);
    bool filterReply(quint16 c, quint16 v, bool err);
    void markModified(quint16 cmd);

    QByteArray m_image;
    // The device's value signals: emitted in the device's own (GUI) thread, reached by one
    // queued call, so that a reply wakes that thread once and not once for each of the
    // pages, strips and channels that listen; in the device's thread, emitted at once.
    template <typename Emit>
    void toOwner(Emit emitter);

    CZun* m_owner = nullptr;
    QSharedPointer<CCmdMap> m_map;
    // The dispatcher's names as numbers of m_map.
    mutable ZunCmdNumbers m_numbers;
    QString m_text;
    std::atomic<bool> m_modified{false};
    quint32 m_crc = 0;
    QList<quint16> m_ignore;
    mutable QReadWriteLock m_lock;

    float m_stepEQG = 0.1f;
    float m_stepEQF = 0.5f;
    float m_stepEQQ = 0.0025f;
    float m_stepGain = 0.1f;
    float m_stepDelay = 0.010416667f;
    float m_stepMDelay = 0.041666668f;
    quint16 m_mdelayFactor = 4;

    // Working state of the reply dispatcher (dispatcher's thread only, except the pending PIN).
    quint16 m_savedDSPID[2] = {0, 0};
    quint16 m_savedFIRID[4] = {0, 0, 0, 0};
    std::atomic<quint16> m_pendingPin{0};
    // Replies kept until takeReplies (dispatcher's thread only).
    QList<CZunCmd> m_replies;
    bool m_takeQueued = false;
    bool m_taking = false;
    // The address change running: step << 48 | old upper half << 32 | address asked.
    std::atomic<quint64> m_pendingIp{0};

    // The EQ and filter records being answered word by word (dispatcher's thread only). The EQ's
    // raw words are kept as the processor sent them, so that storing them loses nothing.
    int m_pendingEQNumber = 0;
    quint16 m_pendingEQWords[5] = {0, 0, 0, 0, 0};
    bool m_pendingEQError = false;
    quint16 m_pendingEQType = 0;
    HO_FILTER_PARAMS m_pendingHOF;
    quint16 m_pendingHOFWords[5] = {0, 0, 0, 0, 0};
    std::atomic<quint64> m_storesAnswered{0};
};
