#include "CZunStatusBuffer.h"

#include "CCmdMap.h"
#include "CEQManager.h"
#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunMetaCmd.h"
#include "ZunCrc16.h"
#include "ZunSetupImport.h"
#include "CRoutingManager.h"

#include <QDebug>
#include <QThread>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QReadLocker>
#include <QWriteLocker>
#include <QtEndian>

#include <cmath>
#include <stdexcept>

namespace
{
constexpr quint16 ParRead = 0xFF0B;
constexpr quint16 BlockWrite = 0xFF00;
constexpr quint16 DefaultsSelected = 0xCDEF;

quint16 wordAt(const QByteArray& b, int index)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(b.constData()) + 2 * index);
}
} // namespace

CZunStatusBuffer::CZunStatusBuffer(CZun* owner) : m_image(ImageBytes, '\0')
{
    setCmdMap(owner);
}

CZunStatusBuffer::CZunStatusBuffer() : m_image(ImageBytes, '\0') {}

CZunStatusBuffer::CZunStatusBuffer(const QByteArray& image) : m_image(image) {}

void CZunStatusBuffer::setCmdMap(CZun* owner)
{
    if (m_map)
        disconnect(m_map.data(), &CCmdMap::signal_CmdMapChanged, this, &CZunStatusBuffer::on_CmdMapChanged);
    m_owner = owner;
    m_map = owner->GetCmdMap();
    initConstants();
    connect(m_map.data(), &CCmdMap::signal_CmdMapChanged, this, &CZunStatusBuffer::on_CmdMapChanged);
}

void CZunStatusBuffer::on_CmdMapChanged()
{
    try {
        initConstants();
    } catch (const std::exception& e) {
        report(QString::fromStdString(e.what()));
    }
}

void CZunStatusBuffer::report(const QString& text)
{
    qWarning().noquote() << "CZunStatusBuffer:" << text;
    if (m_owner)
        emit m_owner->signal_exception(text, QStringLiteral("ZunControl"));
}

quint16 CZunStatusBuffer::nr(const char* name) const
{
    return m_map->getCmdNr(name);
}

quint16 CZunStatusBuffer::firmware() const
{
    return m_owner ? m_owner->GetFirmwareVersion() : 0;
}

void CZunStatusBuffer::initConstants()
{
    if (!m_map)
        return;
    const CCmdMap& map = *m_map;
    {
        QWriteLocker lock(&m_lock);
        m_stepEQF = float(map.getFltConst("Step_EQ_F"));
        m_stepEQG = float(map.getFltConst("Step_EQ_G"));
        m_stepEQQ = float(map.getFltConst("Step_EQ_Q"));
        m_stepGain = float(map.getFltConst("Step_Gain"));
        m_stepDelay = float(map.getFltConst("Step_Delay"));
        if (firmware() >= 1072) {
            m_stepMDelay = float(map.getFltConst("Step_MDelay"));
            m_mdelayFactor = quint16(int(map.getFltConst("Step_MDelayFactor")));
        } else {
            m_stepMDelay = m_stepDelay;
            m_mdelayFactor = 4;
        }
    }
    struct Name { const char* name; bool ifPresent; };
    static const Name names[] = {
        {"Cmd_FlashSize", true}, {"Cmd_Block_ID", true}, {"Cmd_Version", false}, {"Cmd_ResetIP", false},
        {"Cmd_VerboseLevel", false}, {"Cmd_KeyLock", true}, {"Cmd_SizeLastRxBlock", false}, {"Cmd_IP_Hi", false},
        {"Cmd_IP_Lo", false}, {"Cmd_SecurityLevel", true}, {"Cmd_TCPCloseTime", true}, {"Cmd_MemCopy", false},
        {"Cmd_BulkEraseE", false}, {"Cmd_CheckBlockF", false}, {"Cmd_CheckFirmware", false}, {"Cmd_MemID0", false},
        {"Cmd_MemID1", false}, {"Cmd_MemID2", false}, {"Cmd_SetupEQSelect", false}, {"Cmd_SectorEraseF", false},
        {"Cmd_BulkEraseF", false}, {"Cmd_SetupSelect", false}, {"Cmd_SetupStore", true},
        {"Cmd_DSP_Boot_Blink", false}, {"Cmd_LevelLimStatusRequest", false}, {"Cmd_DSP_SetParDef", false},
        {"Cmd_DSP_InitAllPar", false}, {"Cmd_AmpLevelRequest", false}, {"Cmd_DSP_InitAll", false},
        {"Cmd_DSP_Boot", false}, {"Cmd_DSP_InitAllParSR", true}, {"Cmd_0_DSP_Cycles", true},
        {"Cmd_0_DSP_WaitLoop", false}, {"Cmd_0_InitDynPEQ", false}, {"Cmd_0_DSP_TestReg", false},
        {"Cmd_0_DSP_TrChkSum", false}, {"Cmd_0_BlkReadX", false}, {"Cmd_0_BlkReadY", false},
        {"Cmd_0_BlkReadP", false}, {"Cmd_0_DSP_Type", true}, {"Cmd_0_DSP_Mem", true},
        {"Cmd_0_DSP_ResetPeri", true}, {"Cmd_0_DSP_KILL", false}, {"Cmd_0_DSP_SetErr", false},
        {"Cmd_0_MasterGain", false}, {"Cmd_1_DSP_Cycles", true}, {"Cmd_1_DSP_WaitLoop", false},
        {"Cmd_1_InitDynPEQ", false}, {"Cmd_1_DSP_TestReg", false}, {"Cmd_1_DSP_TrChkSum", false},
        {"Cmd_1_BlkReadX", false}, {"Cmd_1_BlkReadY", false}, {"Cmd_1_BlkReadP", false},
        {"Cmd_1_DSP_Type", true}, {"Cmd_1_DSP_Mem", true}, {"Cmd_1_DSP_ResetPeri", true},
        {"Cmd_1_DSP_KILL", false}, {"Cmd_1_DSP_SetErr", false}, {"Cmd_1_MasterGain", false},
        {"Cmd_BroadcastID", true}, {"Cmd_UDP_TxStatus", true},
    };
    QList<quint16> list;
    auto publish = [&]() {
        QWriteLocker lock(&m_lock);
        m_ignore = list;
    };
    try {
        for (const Name& n : names) {
            if (n.ifPresent && !map.contains(QLatin1String(n.name)))
                continue;
            list.append(map.getCmdNr(n.name));
        }
    } catch (...) {
        publish(); // the names before the missing one
        throw;
    }
    publish();
}

QList<quint16> CZunStatusBuffer::ignoreList() const
{
    QReadLocker lock(&m_lock);
    return m_ignore;
}

quint16 CZunStatusBuffer::getValue(const quint16& cmd) const
{
    QReadLocker lock(&m_lock);
    if (cmd >= ImageWords || 2 * cmd + 1 >= m_image.size())
        return 0;
    return wordAt(m_image, cmd);
}

void CZunStatusBuffer::markModified(quint16 cmd)
{
    // Called under the write lock.
    if (m_modified.load())
        return;
    for (int i = m_ignore.size() - 1; i >= 0; --i)
        if (m_ignore.at(i) == cmd)
            return;
    m_modified.store(true);
    emit signal_SetupModified();
}

void CZunStatusBuffer::setValue(const quint16& cmd, const quint16& value)
{
    QWriteLocker lock(&m_lock);
    if (cmd >= ImageWords || 2 * cmd + 1 >= m_image.size())
        return;
    qToLittleEndian<quint16>(value, reinterpret_cast<uchar*>(m_image.data()) + 2 * cmd);
    m_crc = 0;
    markModified(cmd);
}

bool CZunStatusBuffer::setImage(QByteArray image)
{
    if (image.size() != ImageBytes) {
        qWarning() << "CZunStatusBuffer::setImage(): an image of" << image.size() << "bytes was dropped; expected"
                   << ImageBytes;
        return false;
    }
    {
        QWriteLocker lock(&m_lock);
        m_image = image;
        m_crc = 0;
    }
    emit signal_StatusBufferChanged();
    return true;
}

QByteArray CZunStatusBuffer::toByteArray() const
{
    QReadLocker lock(&m_lock);
    return m_image;
}

quint32 CZunStatusBuffer::GetCRC()
{
    {
        QReadLocker lock(&m_lock);
        if (m_crc != 0)
            return m_crc;
    }
    const quint32 crc = ZunCrc16(toByteArray());
    QWriteLocker lock(&m_lock);
    m_crc = crc;
    return crc;
}

bool CZunStatusBuffer::isLinked() const
{
    const quint16 flags = nr("Cmd_SetupFlags");
    return (getValue(flags) & 0x02) != 0;
}

bool CZunStatusBuffer::AreDSPBlocksEqual() const
{
    QByteArray a, b;
    {
        QReadLocker lock(&m_lock);
        if (m_image.size() < DSP1Offset + DSPBlockBytes)
            return false;
        a = m_image.mid(DSP0Offset, DSPBlockBytes);
        b = m_image.mid(DSP1Offset, DSPBlockBytes);
    }
    // Digital output selections and the per-DSP words from the keypad information on.
    for (QByteArray* block : {&a, &b}) {
        block->replace(64, 4, QByteArray(4, '\0'));
        block->replace(120, 16, QByteArray(16, '\0'));
    }
    return a == b;
}

void CZunStatusBuffer::SetLinked(bool on)
{
    if (!m_owner || !m_owner->IsConnected())
        throw std::logic_error(
            QStringLiteral("CZunStatusBuffer::SetLinked(): Zun nr. %1 is not connected; the DSPs were not %2.")
                .arg(m_owner ? m_owner->GetNr() : 0)
                .arg(on ? QStringLiteral("linked") : QStringLiteral("unlinked"))
                .toStdString());
    const quint16 flagsCmd = nr("Cmd_SetupFlags");
    const quint16 f = getValue(flagsCmd);
    if (!on) {
        m_owner->SendCmd(flagsCmd, quint16(f & ~0x02));
        return;
    }
    if (AreDSPBlocksEqual()) {
        m_owner->SendCmd(flagsCmd, quint16(f | 0x02));
        return;
    }
    const quint16 b0 = nr("Inf_DSP0_ParBase"), b1 = nr("Inf_DSP1_ParBase");
    const quint16 f0 = nr("Inf_DSP0_ParBaseFi"), f1 = nr("Inf_DSP1_ParBaseFi");
    const quint16 q = nr("Inf_DSPx_Qty_ParFi");
    const int n = int(f0) + int(q) - int(b0);
    setValue(nr("Cmd_0_InGainB"), getValue(nr("Cmd_0_InGainA")));
    setValue(nr("Cmd_0_InMuteB"), getValue(nr("Cmd_0_InMuteA")));
    setValue(nr("Cmd_0_InDelayB"), getValue(nr("Cmd_0_InDelayA")));
    for (int k = 0; k < n; ++k)
        setValue(quint16(b1 + k), getValue(quint16(b0 + k)));
    const quint16 e = nr("Inf_DSP_EQ_AnzSet");
    auto shift = [e](quint8 s) -> quint8 { return (s != 255 && s < e) ? quint8(s + e) : s; };
    for (int rec = f1; rec < int(f1) + int(q); rec += 5) {
        const quint16 w2 = getValue(quint16(rec + 2)), w3 = getValue(quint16(rec + 3)), w4 = getValue(quint16(rec + 4));
        setValue(quint16(rec + 2), quint16(shift(quint8(w2 >> 8)) << 8 | shift(quint8(w2 & 0xFF))));
        setValue(quint16(rec + 3), quint16(shift(quint8(w3 >> 8)) << 8 | shift(quint8(w3 & 0xFF))));
        setValue(quint16(rec + 4), quint16((w4 & 0xFF00) | shift(quint8(w4 & 0xFF))));
    }
    setValue(flagsCmd, quint16(f | 0x02));
    UploadImage();
}

void CZunStatusBuffer::UploadImage()
{
    {
        QWriteLocker lock(&m_lock);
        CZunMetaCmd meta;
        meta.append(CZunCmd(BlockWrite, quint16(m_image.size()), m_image));
        meta.appendCmd(nr("Cmd_MemID2"), nr("ID_List_Setup"));
        meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyRxTxBuf2DSPVar"));
        meta.appendCmd(nr("Cmd_DSP_InitAllPar"), 0);
        if (m_owner)
            m_owner->SendMetaCmd(meta);
    }
    emit signal_StatusBufferChanged();
}

void CZunStatusBuffer::SetSetupName(const QString& name)
{
    const QByteArray bytes = encodeSetupName(name);
    QWriteLocker lock(&m_lock);
    if (m_image.size() < SetupNameOffset + SetupNameBytes)
        return;
    m_image.replace(SetupNameOffset, SetupNameBytes, bytes);
    if (!m_modified.load()) {
        m_modified.store(true);
        emit signal_SetupModified();
    }
    m_crc = 0;
}

QString CZunStatusBuffer::GetSetupName() const
{
    QByteArray bytes;
    {
        QReadLocker lock(&m_lock);
        bytes = m_image.mid(SetupNameOffset, SetupNameBytes);
    }
    return decodeSetupName(bytes);
}

// ---------------------------------------------------------------------------------------
// Reply dispatcher: every processed command of the processor comes back here, in the
// link's thread, one at a time, each right after the link has read it.

bool CZunStatusBuffer::is(quint16 c, const char* name) const
{
    return m_numbers.number(*m_map, name) == int(c);
}

void CZunStatusBuffer::keepReply(CZunCmd cmd, bool takenAfterRead)
{
    m_replies.append(cmd);
    if (takenAfterRead || m_takeQueued)
        return;
    m_takeQueued = true;
    QMetaObject::invokeMethod(this, &CZunStatusBuffer::takeReplies, Qt::QueuedConnection);
}

void CZunStatusBuffer::takeReplies()
{
    // One reply after the other, those kept while one is handled too; never from
    // within the handling of one (a reply's handling may send, and so keep another).
    if (m_taking)
        return;
    m_taking = true;
    while (!m_replies.isEmpty())
        cmdCallback(m_replies.takeFirst());
    m_taking = false;
    m_takeQueued = false;
}

void CZunStatusBuffer::cmdCallback(CZunCmd cmd)
{
    // Nothing may leave this slot: an exception escaping a worker thread's event handler
    // ends the program. It is reported to the GUI thread instead.
    QString text;
    try {
        dispatch(cmd);
        return;
    } catch (const CCmdMap::invalid_cmd& e) {
        text = QStringLiteral("%1 (%2)").arg(QString::fromStdString(e.what()), QString::fromStdString(e.text()));
    } catch (const std::exception& e) {
        text = QString::fromStdString(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown exception in the reply dispatcher.");
    }
    report(text);
}

bool CZunStatusBuffer::imageReadBackFailed(const CZunCmd& cmd) const
{
    const CCmdMap& map = *m_map;
    if (!map.contains(QStringLiteral("Cmd_MemCopy")) || !map.contains(QStringLiteral("CmdS_CopyDSPVar2RxTxBuf")))
        return false;
    const quint16 dspVar = map.getCmdNr("CmdS_CopyDSPVar2RxTxBuf");
    if (is(cmd.getCmd(), "Cmd_MemCopy"))
        return cmd.getValue() == dspVar;
    return is(cmd.getCmd(), "ID_TX_Block") && is(cmd.getValue(), "ID_Block_Flash")
        && getValue(map.getCmdNr("Cmd_MemCopy")) == dspVar;
}

// A recall ends in its answer or in the link giving up on it: either way the processor's
// keep-alive comes back and whoever waits learns how it went.
void CZunStatusBuffer::setupSelectFinished(bool ok, quint16 position)
{
    if (m_owner)
        QMetaObject::invokeMethod(m_owner, "on_RecallAnswered", Qt::QueuedConnection);
    if (position == 0xFF || position == 0xFE)
        emit signal_DefaultSettingsRestored(ok);
    else
        emit signal_SetupSelect(ok, position);
}

template <typename Emit>
void CZunStatusBuffer::toOwner(Emit emitter)
{
    if (!m_owner)
        return;
    if (QThread::currentThread() == m_owner->thread())
        emitter();
    else
        QMetaObject::invokeMethod(m_owner, std::move(emitter), Qt::QueuedConnection);
}

void CZunStatusBuffer::dispatch(const CZunCmd& cmd)
{
    if (!m_map)
        return;
    const CCmdMap& map = *m_map;
    if (cmd.isSuperseded())
        return; // a later group with the same key carries it
    if (cmd.gotNoReply()) {
        // The link gave up on it; nothing about the processor follows from it, but an
        // operation that waits for its answer learns that it failed, or, when it had gone
        // out, that the processor may have run it.
        emit signal_Unanswered(cmd.getCmd(), cmd.getValue(), cmd.wentOut());
        if (imageReadBackFailed(cmd))
            emit signal_ImageRefreshFailed();
        if (is(cmd.getCmd(), "Cmd_CheckFirmware"))
            emit signal_FirmwareCheckUnanswered();
        if (is(cmd.getCmd(), "Cmd_SetupSelect"))
            setupSelectFinished(false, cmd.getValue());
        if (is(cmd.getCmd(), "Cmd_SetupStore"))
            emit signal_SetupStored(false);
        if (firmware() >= 1073 && is(cmd.getCmd(), "Cmd_Pin"))
            m_pendingPin.store(0); // the change the operator asked has ended
        if (is(cmd.getCmd(), "Cmd_IP_Hi") || is(cmd.getCmd(), "Cmd_IP_Lo"))
            ipReply(cmd.getCmd(), cmd.getValue(), false, true);
        return;
    }
    const quint16 c = cmd.getCmd();
    const quint16 v = cmd.getValue();
    const QByteArray payload = cmd.getReply();
    const quint16 w = cmd.replyWord();
    const bool err = cmd.isError();
    // A reply without its word carries no value: the parameter branches treat it as refused.
    const bool noValue = err || payload.size() < 2;
    bool handled = false;

    if (err) {
        const QString text = QStringLiteral("Internal error %1 at Cmd:%2, Val:%3\n")
                                 .arg(w, 0, 16)
                                 .arg(c)
                                 .arg(cmd.isSecret() ? QStringLiteral("(hidden)") : QString::number(v));
        if (m_owner)
            emit m_owner->signal_LogMessage(text, true);
        if (imageReadBackFailed(cmd))
            emit signal_ImageRefreshFailed();
    }
    emit signal_TcpChecked();

    if (is(c, "ID_TX_Block")) {
        if (!err)
            blockReply(v, payload, err);
    } else if (is(c, "ID_TX_Status")) {
        if (statusWord(w))
            return;
    } else if (is(c, "Cmd_0_DSP_WaitLoop") || is(c, "Cmd_1_DSP_WaitLoop")) {
        // stored by the generic rule
    } else if (is(c, "Cmd_0_DSP_TestReg")) {
        if (!err && payload.size() >= 2)
            setValue(c, w);
        handled = true;
    } else if (is(c, "ID_TX_Version") || is(c, "ID_TX_CmdReq")) {
        handled = true;
    } else if (is(c, "ID_TX_Hardware")) {
        if (!err && payload.size() >= 6 && m_owner) {
            const quint64 hw = qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(payload.constData()));
            const quint64 extra = qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(payload.constData()) + 4);
            QMetaObject::invokeMethod(m_owner, "SetHardwareInfo", Qt::QueuedConnection,
                                      Q_ARG(quint64, hw | (extra << 32)));
        } else if (!err) {
            const QString text = QStringLiteral("Hardware reply of %1 bytes dropped").arg(payload.size());
            qWarning().noquote() << text;
            if (m_owner)
                emit m_owner->signal_LogMessage(text, true);
        }
        handled = true;
    } else if (is(c, "ID_RX_Block_Start")) {
        if (cmd.isDone())
            emit signal_BlockTransferFinished(v);
        if (err) {
            if (m_owner)
                QMetaObject::invokeMethod(m_owner, "ResetBuffers", Qt::QueuedConnection);
            // The processor's own name of the code (Msg_... with its MsgS_... text).
            QString reason = QStringLiteral("code %1").arg(w, 4, 16, QLatin1Char('0'));
            for (const QString& name : map.getKeysBeginningWith(QStringLiteral("Msg_")))
                if (map.getCmdNr(name) == w && map.containsString(QStringLiteral("MsgS_") + name.mid(4)))
                    reason = map.getStringConst(QStringLiteral("MsgS_") + name.mid(4));
            if (m_owner && m_owner->IsFirmwareUpdateRunning()) {
                emit signal_FirmwareBlockRefused(reason);
                return;
            }
            throw std::logic_error(QStringLiteral("The processor refused a block of %1 bytes (%2). The transfer was "
                                                  "stopped; please try again.")
                                       .arg(v)
                                       .arg(reason)
                                       .toStdString());
        }
        handled = true;
    } else if (is(c, "Cmd_MemCopy")) {
        flashStep(v, err, w);
    } else if (is(c, "Cmd_CheckBlockF")) {
        emit signal_BlockCheckFinished(w != 0);
        handled = true;
    } else if (is(c, "Cmd_CheckFirmware")) {
        emit signal_FirmwareCheckFinished(w != 0);
        handled = true;
    } else if (masterReply(c, w, noValue)) {
        handled = true;
    } else if (is(c, "Cmd_SetupSelect")) {
        const quint16 x = w;
        const bool defaults = x == 0xFF || x == 0xFE;
        if (!err) {
            setValue(c, defaults ? DefaultsSelected : x);
            clearModified();
        }
        handled = true;
        setupSelectFinished(!err, x);
    } else if (is(c, "Cmd_DSP_Boot")) {
        if (firmware() >= 1071 && err) {
            setValue(nr("Cmd_0_DSP_ID"), m_savedDSPID[0]);
            setValue(nr("Cmd_1_DSP_ID"), m_savedDSPID[1]);
            emit signal_DSPInitialized(false, 0, m_savedDSPID[0]);
        }
    } else if (is(c, "Cmd_DSP_InitAllPar") && firmware() >= 1071) {
        emit signal_DSPInitialized(!err, 1, getValue(nr("Cmd_0_DSP_ID")));
        if (m_owner && m_owner->GetHardwareInfo().isDoubleBoard())
            emit signal_DSPInitialized(!err, 2, getValue(nr("Cmd_1_DSP_ID")));
        handled = true;
    } else if (is(c, "Cmd_0_DSP_LoadKoef") || is(c, "Cmd_1_DSP_LoadKoef")) {
        loadKoef(c, w, err);
        handled = true;
    } else if (channelReply(c, w, noValue)) {
        handled = true;
    } else if (is(c, "Cmd_BulkEraseF")) {
        // Without "Inf_EraseOnly128K" every erase is reported: one the processor finished
        // must bring the keep-alive back and let a pending restore run.
        const bool known = map.contains(QStringLiteral("Inf_EraseOnly128K"));
        if (isFactoryErase(known, known ? nr("Inf_EraseOnly128K") : 0, v))
            emit signal_FactoryReset(!err);
        handled = true;
    } else if (is(c, "Cmd_SPI_Routing")) {
        if (!err && payload.size() >= 2)
            setValue(c, w);
        emit signal_RoutingPreset(!err, w);
        handled = true;
    } else if (eqReply(c, v, err) || filterReply(c, v, err)) {
        handled = true;
    }
    if (noValue && firmware() >= 1072 && (is(c, "Cmd_0_MasterMute") || is(c, "Cmd_1_MasterMute")))
        masterMuteRefused(c, v);
    if (is(c, "Cmd_IP_Hi") || is(c, "Cmd_IP_Lo"))
        ipReply(c, v, !noValue, false);
    tail(c, w, noValue, handled);
}

void CZunStatusBuffer::blockReply(quint16 v, const QByteArray& payload, bool)
{
    const CCmdMap& map = *m_map;
    if (is(v, "ID_Block_Flash")) {
        flashBlock(payload);
    } else if (is(v, "ID_Block_DSP_Stat")) {
        const int statIndex = map.contains(QStringLiteral("Stat_Status")) ? nr("Stat_Status") : 1;
        const int recordSize = qMax(firmware() >= 1077 ? 108 : 106, 2 * statIndex + 2);
        if (payload.size() < recordSize) {
            const QString text = QStringLiteral("DSP status block of %1 bytes dropped (expected %2)")
                                     .arg(payload.size()).arg(recordSize);
            qWarning().noquote() << text;
            if (m_owner)
                emit m_owner->signal_LogMessage(text, true);
            return;
        }
        const quint16 s = wordAt(payload, statIndex);
        if (s == nr("Msg_StatusIdle")) {
        } else if (s == nr("Msg_CmdChangeN")) {
            emit signal_ZunOutOfSync();
        } else if (s < ImageWords && m_owner) {
            CZunMetaCmd read(ParRead, s);
            // A read of one parameter must never be replaced by a read of another.
            read.setSupersede(false);
            m_owner->SendMetaCmd(read);
            if (s == nr("Cmd_0_MasterGain"))
                m_owner->SendCmd(ParRead, nr("Cmd_1_MasterGain"));
        }
    } else if (is(v, "ID_Block_SetupName")) {
        QByteArray name = payload;
        const int nul = name.indexOf('\0');
        if (nul >= 0)
            name.truncate(nul);
        const quint16 kind = getValue(nr("Cmd_MemID2"));
        const quint16 slot = getValue(nr("Cmd_MemID0"));
        if (kind == nr("ID_List_DSP_Prog"))
            emit signal_DSPProgramListEntry(slot, QString::fromLatin1(name));
    }
}

void CZunStatusBuffer::flashBlock(const QByteArray& payload)
{
    const CCmdMap& map = *m_map;
    const quint16 last = getValue(nr("Cmd_MemCopy"));
    const int device = m_owner ? m_owner->GetNr() : 0;
    QString dump;
    // Also called from the memory manager's thread (the directory's hand-off).
    auto drop = [owner = QPointer<CZun>(m_owner)](const QString& text) {
        qWarning().noquote() << text;
        if (owner)
            emit owner->signal_LogMessage(text, true);
    };
    if (last == nr("CmdS_CopyMemDir2RxTxBuf")) {
        // A directory is a whole number of entries of its layout, or it is not used.
        bool whole;
        if (firmware() >= CMemoryManager::EntryLayoutFirmware) {
            const int maxEntries = map.contains(QStringLiteral("ID_MDL_Entries_Max")) ? nr("ID_MDL_Entries_Max") : 219;
            whole = payload.size() % CMemoryManager::EntrySize == 0
                 && payload.size() / CMemoryManager::EntrySize <= maxEntries;
        } else {
            whole = payload.size() == 4 * int(nr("ID_SizeOfMemDir")) + int(nr("ID_SizeMemLists"));
        }
        if (!whole) {
            drop(QStringLiteral("Flash directory of %1 bytes dropped: not a whole directory").arg(payload.size()));
            if (m_owner)
                QMetaObject::invokeMethod(m_owner, "on_MemDirReadFailed", Qt::QueuedConnection);
            return;
        }
        // Dumped before the hand-off, so that whoever reacts to the new directory finds it.
        writeDump(QStringLiteral("MemDir_%1.bin").arg(device), payload);
        // A directory the manager cannot read (an entry of unknown type) keeps the one it
        // has: its error must not leave the manager's event loop, which ends the program.
        const quint64 stores = m_storesAnswered.load();
        if (CMemoryManager* mm = m_owner ? m_owner->GetMemoryManager() : nullptr)
            QMetaObject::invokeMethod(
                mm,
                [mm, payload, drop, stores, owner = QPointer<CZun>(m_owner)]() {
                    try {
                        mm->SetMemDir(payload, stores);
                    } catch (const std::exception& e) {
                        drop(QStringLiteral("Flash directory of %1 bytes dropped: %2")
                                 .arg(payload.size())
                                 .arg(QString::fromStdString(e.what())));
                        if (owner)
                            QMetaObject::invokeMethod(owner.data(), "on_MemDirReadFailed", Qt::QueuedConnection);
                    }
                },
                Qt::QueuedConnection);
    } else if (last == nr("CmdS_CopyDSPVar2RxTxBuf")) {
        if (payload.size() != ImageBytes) {
            drop(QStringLiteral("Parameter image of %1 bytes dropped (expected %2)").arg(payload.size()).arg(ImageBytes));
            emit signal_ImageRefreshFailed();
            return;
        }
        writeDump(QStringLiteral("DSPVarDump_%1.zun").arg(device), payload);
        setImage(payload);
    } else if (last == quint16(nr("ID_FAI_Ctrl_r") + nr("CmdS_CopyF2RxTxBuf"))) {
        const quint16 kind = getValue(nr("Cmd_MemID2"));
        const quint16 slot = getValue(nr("Cmd_MemID0"));
        if (kind == nr("ID_List_Setup"))
            emit signal_SetupDownloaded(slot, payload);
        else if (kind == nr("ID_List_SetupEQ"))
            dump = QStringLiteral("eqsetup_%1.eq2").arg(slot);
        else if (kind == nr("ID_List_Filter"))
            emit signal_FIRDownloaded(slot, payload);
    } else {
        throw std::logic_error("CZun::cmdCallback(): Invalid value in usLastMemCopy");
    }
    emit signal_Block_ID_Flash();
    if (!dump.isEmpty())
        writeDump(dump, payload);
}

void CZunStatusBuffer::writeDump(const QString& name, const QByteArray& payload)
{
    const QString folder = m_owner ? m_owner->GetLogFolder() : QString();
    if (folder.isEmpty())
        return;
    QFile f(QDir(folder).filePath(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(payload); // a dump that cannot be written is skipped
}

bool CZunStatusBuffer::statusWord(quint16 w)
{
    if (w == nr("Msg_StatusIdle") || w == nr("Msg_CmdChangeN"))
        return true;
    if (w < ImageWords) {
        if (m_owner)
            m_owner->SendCmd(ParRead, w);
        return true;
    }
    return false;
}

void CZunStatusBuffer::flashStep(quint16 v, bool err, quint16 code)
{
    const quint16 kind = getValue(nr("Cmd_MemID2"));
    const quint16 slot = getValue(nr("Cmd_MemID0"));
    if (v == quint16(nr("ID_FAI_Ctrl_w_RxTxBuf") + nr("CmdS_CopyRxTxBuf2F"))) {
        ++m_storesAnswered;
        if (err)
            emit signal_StoreRefused(kind, code);
        if (kind == nr("ID_List_DSP_Prog")) {
            emit signal_DSPProgUploaded(!err);
        } else if (kind == nr("ID_List_Filter")) {
            emit signal_FIRUploaded(!err);
        } else if (kind == nr("ID_List_Setup")) {
            emit signal_SetupUploaded(!err, slot);
            emit signal_StatusBarMessage(QStringLiteral("Setup uploaded to pos. %1").arg(slot), 5000);
        }
    } else if (firmware() >= 1072 && v == nr("CmdS_DeleteInF")) {
        if (kind == nr("ID_List_Setup"))
            emit signal_SetupRemoved(slot);
        else if (kind != nr("ID_List_DSP_Prog"))
            emit signal_FIRFilterRemoved((uint(getValue(nr("Cmd_MemID1"))) << 16) + slot);
    } else if (firmware() < 1068 && m_map->contains(QStringLiteral("CmdS_SaveParF"))
               && (v & 0xFF00) == nr("CmdS_SaveParF")) {
        // Firmware before Cmd_SetupStore stores a setup with a flash copy.
        if (!err)
            setValue(nr("Cmd_SetupSelect"), v & 0xFF);
        emit signal_SetupStored(!err);
    } else if ((v & 0xFF00) == nr("CmdS_CopyRxTxBuf2F_Raw")) {
        emit signal_MemCopyFinished();
    }
}

void CZunStatusBuffer::loadKoef(quint16 c, quint16 w, bool err)
{
    const bool dsp1 = is(c, "Cmd_1_DSP_LoadKoef");
    const quint16 low = nr(dsp1 ? "Cmd_1_FIR_ID0" : "Cmd_0_FIR_ID0");
    const quint16 high = nr(dsp1 ? "Cmd_1_FIR_ID1" : "Cmd_0_FIR_ID1");
    const quint16 savedLow = m_savedFIRID[dsp1 ? 2 : 0], savedHigh = m_savedFIRID[dsp1 ? 3 : 1];
    if (!err)
        setValue(c, w);
    else {
        setValue(low, savedLow);
        setValue(high, savedHigh);
        if (m_owner) {
            m_owner->SendCmd(low, savedLow);
            m_owner->SendCmd(high, savedHigh);
        }
    }
    const uint id = (uint(getValue(high)) << 16) + getValue(low);
    if (!dsp1)
        emit signal_FIRFilterSelect(!err, 1, id);
    else if (m_owner && m_owner->GetHardwareInfo().isDoubleBoard())
        emit signal_FIRFilterSelect(!err, 2, id);
}

void CZunStatusBuffer::tail(quint16 c, quint16 w, bool noValue, bool handled)
{
    const quint16 fw = firmware();
    if (fw >= 1068 && is(c, "Cmd_SetupStore")) {
        // A refused store saved nothing: the edits are still only in the image. A stored
        // one is the processor's active setup from now on (its SetupSelect points at it).
        if (!noValue) {
            setValue(nr("Cmd_SetupSelect"), w);
            clearModified();
        }
        if (m_owner)
            QMetaObject::invokeMethod(m_owner, "RefreshMemDir", Qt::QueuedConnection);
        handled = true;
        emit signal_SetupStored(!noValue);
    }
    if (fw >= 1071) {
        static const char* const dspIds[2] = {"Cmd_0_DSP_ID", "Cmd_1_DSP_ID"};
        static const char* const firIds[4] = {"Cmd_0_FIR_ID0", "Cmd_0_FIR_ID1", "Cmd_1_FIR_ID0", "Cmd_1_FIR_ID1"};
        bool saved = false;
        for (int i = 0; i < 2 && !saved; ++i)
            if (is(c, dspIds[i])) {
                m_savedDSPID[i] = getValue(c);
                saved = true;
            }
        for (int i = 0; i < 4 && !saved; ++i)
            if (is(c, firIds[i])) {
                m_savedFIRID[i] = getValue(c);
                saved = true;
            }
        if (!saved && is(c, "Cmd_TCPCloseTime"))
            emit signal_TcpChecked();
    }
    if (fw >= 1072 && inputReply(c, w, noValue))
        handled = true;
    if (fw >= 1073 && is(c, "Cmd_Pin")) {
        handled = true;
        // The new PIN goes once, for the change asked: taken here, a later "old PIN
        // correct" reply finds none to send.
        const quint16 pin = m_pendingPin.exchange(0);
        if (!noValue && w == 1) {
            if (m_owner && pin != 0)
                m_owner->SendPinStep(pin);
        } else if (m_owner) {
            emit m_owner->signal_LogMessage(w == 2 && !noValue ? QStringLiteral("PIN changed successfully")
                                                           : QStringLiteral("Invalid PIN. PIN has not been changed."),
                                            false);
        }
    }
    if ((fw >= 1077 && is(c, "Cmd_SetupFlags")) || (fw >= 1080 && is(c, "Cmd_String2App"))) {
        const quint16 old = getValue(c);
        const quint16 x = noValue ? old : w;
        setValue(c, x);
        handled = true;
        if (is(c, "Cmd_String2App"))
            return;
        if (x != old)
            emit signal_LinkChanged((x & 0x02) != 0);
    }
    // Generic rule: a plain parameter reply is the value the processor now holds.
    if (!handled && !noValue && c < ImageWords)
        setValue(c, w);
}

// ---------------------------------------------------------------------------------------
// Audio parameter replies: the image takes the processor's word (an error reply stores
// nothing), and the device object announces the value the image then holds.

int CZunStatusBuffer::indexIn(quint16 c, const char* first, const char* last) const
{
    const int a = m_numbers.number(*m_map, first), b = m_numbers.number(*m_map, last);
    if (a == ZunCmdNumbers::Missing || b == ZunCmdNumbers::Missing)
        return -1;
    return int(c) >= a && int(c) <= b ? int(c) - a : -1;
}

int CZunStatusBuffer::channelOf(quint16 c, const char* first0, const char* last0, const char* first1,
                                const char* last1) const
{
    const int i = indexIn(c, first0, last0);
    if (i >= 0)
        return i;
    const int j = indexIn(c, first1, last1);
    return j >= 0 ? j + 4 : -1;
}

namespace
{
// A float step as the decimal it stands for (0.1f gives 0.1, not 0.100000001).
double decimalStep(float step) { return std::round(double(step) * 1e6) / 1e6; }
} // namespace

bool CZunStatusBuffer::masterReply(quint16 c, quint16 w, bool err)
{
    const bool gain0 = is(c, "Cmd_0_MasterGain"), gain1 = is(c, "Cmd_1_MasterGain");
    const bool delay0 = is(c, "Cmd_0_MasterDelay"), delay1 = is(c, "Cmd_1_MasterDelay");
    const bool keyLock = is(c, "Cmd_KeyLock");
    if (!(gain0 || gain1 || delay0 || delay1 || keyLock))
        return false;
    const quint16 x = err ? getValue(c) : w;
    const bool twoBoards = m_owner && m_owner->GetHardwareInfo().isDoubleBoard();
    if (keyLock) {
        setValue(c, x);
        if (m_owner)
            toOwner([o = m_owner, x] { emit o->signal_FrontPanelLocked(x == 1); });
        return true;
    }
    if (!err) {
        setValue(c, x);
        // DSP 0's master word stands for both DSPs.
        if (gain0)
            setValue(nr("Cmd_1_MasterGain"), x);
        if (delay0)
            setValue(nr("Cmd_1_MasterDelay"), x);
    }
    if (!m_owner)
        return true;
    const int dsp = (gain0 || delay0) ? 1 : 2;
    if (dsp == 2 && !twoBoards)
        return true;
    if (gain0 || gain1)
        toOwner([o = m_owner, dsp, v = qint16(x) * decimalStep(m_stepGain)] { emit o->signal_MasterGain(dsp, v); });
    else
        toOwner([o = m_owner, dsp, v = CZunDelay(quint32(x) * masterDelayFactor(), 96000.0)] { emit o->signal_MasterDelay(dsp, v); });
    return true;
}

bool CZunStatusBuffer::channelWord(const char* const (*names)[4], int kinds, quint16 c, quint16 w, bool err,
                                   int* kind, int* channel, quint16* value)
{
    for (int k = 0; k < kinds; ++k) {
        const int i = channelOf(c, names[k][0], names[k][1], names[k][2], names[k][3]);
        if (i < 0)
            continue;
        // A refusal leaves the word as it was, and the window is told that value.
        *kind = k;
        *channel = i;
        *value = err ? getValue(c) : w;
        if (!err)
            setValue(c, w);
        return true;
    }
    return false;
}

bool CZunStatusBuffer::channelReply(quint16 c, quint16 w, bool err)
{
    int kind = 0, o = -1;
    static const char* const names[4][4] = {
        {"Cmd_0_ChGain0", "Cmd_0_ChGain3", "Cmd_1_ChGain0", "Cmd_1_ChGain3"},
        {"Cmd_0_ChDelay0", "Cmd_0_ChDelay3", "Cmd_1_ChDelay0", "Cmd_1_ChDelay3"},
        {"Cmd_0_ChMute0", "Cmd_0_ChMute3", "Cmd_1_ChMute0", "Cmd_1_ChMute3"},
        {"Cmd_0_ChPhInv0", "Cmd_0_ChPhInv3", "Cmd_1_ChPhInv0", "Cmd_1_ChPhInv3"},
    };
    quint16 x = 0;
    if (!channelWord(names, 4, c, w, err, &kind, &o, &x))
        return false;
    if (!m_owner)
        return true;
    const auto output = ZunC::AnalogOutputs(o);
    CZun* owner = m_owner;
    switch (kind) {
    case 0: toOwner([owner, output, v = qint16(x) * decimalStep(m_stepGain)] { emit owner->signal_ChannelGain(output, v); }); break;
    case 1: toOwner([owner, output, v = CZunDelay(x, 96000.0)] { emit owner->signal_ChannelDelay(output, v); }); break;
    case 2: toOwner([owner, output, on = x != 0] { emit owner->signal_ChannelMute(output, on); }); break;
    default: toOwner([owner, output, on = x != 0] { emit owner->signal_ChannelInvert(output, on); }); break;
    }
    return true;
}

void CZunStatusBuffer::masterMuteRefused(quint16 c, quint16 asked)
{
    // A refusal never unmutes: the DSP that refused keeps its word, and only a mute it
    // keeps is taken over by the other DSP. A refused request for the state already held
    // changes nothing and asks for nothing (two refusing DSPs never answer each other for
    // ever). The button shows what the DSPs hold; one box names the DSP that refused.
    const quint16 held = getValue(c);
    if (asked == held || !m_owner)
        return;
    const bool first = is(c, "Cmd_0_MasterMute");
    const bool doubleBoard = m_owner->GetHardwareInfo().isDoubleBoard();
    if (!first && !doubleBoard)
        return; // a one-board processor has no second DSP to mute
    // A one-board processor's first DSP has no second one to take its mute over.
    if (held != 0 && doubleBoard)
        m_owner->SendCmd(nr(first ? "Cmd_1_MasterMute" : "Cmd_0_MasterMute"), held);
    toOwner([o = m_owner, on = masterMuted()] { emit o->signal_MasterMute(on); });
    const QString text = held == 0     ? QStringLiteral("DSP %1 refused the master mute: it is not muted.")
                       : doubleBoard ? QStringLiteral("DSP %1 refused to unmute: both DSPs stay muted.")
                                     : QStringLiteral("DSP %1 refused to unmute: it stays muted.");
    toOwner([o = m_owner, text = text.arg(first ? 1 : 2)] {
        emit o->signal_exception(text, QStringLiteral("ZunControl"));
    });
}

// The master mute as the window shows it: muted while either DSP is.
bool CZunStatusBuffer::masterMuted() const
{
    const bool doubleBoard = m_owner && m_owner->GetHardwareInfo().isDoubleBoard();
    return getValue(nr("Cmd_0_MasterMute")) != 0 || (doubleBoard && getValue(nr("Cmd_1_MasterMute")) != 0);
}

bool CZunStatusBuffer::inputReply(quint16 c, quint16 w, bool err)
{
    if (is(c, "Cmd_0_MasterMute") || is(c, "Cmd_1_MasterMute")) {
        // Every change of either word is told: the master shows muted while either DSP is,
        // each channel follows its own DSP's word.
        if (!err && w != getValue(c)) {
            setValue(c, w);
            toOwner([o = m_owner, on = masterMuted()] { emit o->signal_MasterMute(on); });
        }
        return true;
    }
    static const char* const names[3][4] = {
        {"Cmd_0_InGainA", "Cmd_0_InGainD", "Cmd_1_InGainE", "Cmd_1_InGainH"},
        {"Cmd_0_InMuteA", "Cmd_0_InMuteD", "Cmd_1_InMuteE", "Cmd_1_InMuteH"},
        {"Cmd_0_InDelayA", "Cmd_0_InDelayD", "Cmd_1_InDelayE", "Cmd_1_InDelayH"},
    };
    int kind = 0, p = -1;
    quint16 x = 0;
    if (!channelWord(names, 3, c, w, err, &kind, &p, &x))
        return false;
    if (!m_owner)
        return true;
    const auto path = ZunC::InputPaths(p);
    CZun* o = m_owner;
    switch (kind) {
    case 0: toOwner([o, path, v = qint16(x) * decimalStep(m_stepGain)] { emit o->signal_InputPathGain(path, v); }); break;
    case 1: toOwner([o, path, on = x != 0] { emit o->signal_InputPathMute(path, on); }); break;
    default: toOwner([o, path, v = CZunDelay(x, 96000.0)] { emit o->signal_InputPathDelay(path, v); }); break;
    }
    return true;
}

// Whether c lies in a record pool (DSP 0's or DSP 1's, each size words from its base);
// then the DSP and the word's offset from its pool's base.
bool CZunStatusBuffer::locateRecordWord(quint16 c, const char* base0Name, const char* base1Name,
                                        const char* sizeName, int* dsp, int* offset) const
{
    const quint16 base0 = nr(base0Name), base1 = nr(base1Name), size = nr(sizeName);
    if (c >= base1 && c < base1 + size)
        *dsp = 1;
    else if (c >= base0 && c < base0 + size)
        *dsp = 0;
    else
        return false;
    *offset = c - (*dsp ? base1 : base0);
    return true;
}

bool CZunStatusBuffer::eqReply(quint16 c, quint16 v, bool err)
{
    const CCmdMap& map = *m_map;
    int d, offset;
    if (!locateRecordWord(c, "Inf_DSP0_ParBaseEQ", "Inf_DSP1_ParBaseEQ", "Inf_DSPx_Qty_ParEQ", &d, &offset))
        return false;
    const int k = offset % 5;
    const quint16 first = quint16(c - k);
    m_pendingEQNumber = offset / 5 + map.getIntConst(QStringLiteral("Inf_DSP_EQ_AnzSet")) * d;
    switch (k) {
    case 0:
        // The rest of the record starts from what the image holds; the words that follow
        // replace it. The channel word came first and stays.
        m_pendingEQError = err;
        m_pendingEQType = getValue(first);
        for (int i = 1; i < 4; ++i)
            m_pendingEQWords[i] = getValue(quint16(first + i));
        m_pendingEQWords[0] = v;
        return true;
    case 1:
    case 2:
    case 4:
        m_pendingEQWords[k] = v;
        return true;
    default:
        break;
    }
    if (!err && !m_pendingEQError) {
        // The words exactly as the processor took them.
        m_pendingEQWords[3] = v;
        setValue(c, v);
        setValue(quint16(c + 1), m_pendingEQWords[4]);
        setValue(quint16(c - 2), m_pendingEQWords[1]);
        setValue(quint16(c - 1), m_pendingEQWords[2]);
        setValue(quint16(c - 3), m_pendingEQWords[0]);
    } else if (m_pendingEQError) {
        // The type word was refused while the others may have been taken: the processor
        // gets the image's record back, word for word.
        CZunMetaCmd meta;
        meta.appendCmd(quint16(first + 4), getValue(quint16(first + 4)));
        meta.appendCmd(first, m_pendingEQType);
        for (int i = 1; i < 4; ++i)
            meta.appendCmd(quint16(first + i), getValue(quint16(first + i)));
        if (m_owner)
            m_owner->SendMetaCmd(meta);
    }
    m_pendingEQError = false;
    if (m_owner && m_owner->GetEQManager()) {
        CEQManager* manager = m_owner->GetEQManager();
        const int number = m_pendingEQNumber;
        // The EQ objects live in the GUI thread.
        QMetaObject::invokeMethod(manager, [manager, number]() { manager->refreshEQ(number); },
                                  Qt::QueuedConnection);
    }
    return true;
}

bool CZunStatusBuffer::filterReply(quint16 c, quint16 v, bool err)
{
    const CCmdMap& map = *m_map;
    int d, offset;
    if (!locateRecordWord(c, "Inf_DSP0_ParBaseFi", "Inf_DSP1_ParBaseFi", "Inf_DSPx_Qty_ParFi", &d, &offset))
        return false;
    const int k = offset % 5;
    const int number = offset / 5 + map.getIntConst(QStringLiteral("Inf_DSP_Fi_AnzSet")) * d;
    HO_FILTER_PARAMS& p = m_pendingHOF;
    p.number = quint16(number);
    m_pendingHOFWords[k] = v;
    switch (k) {
    case 0:
        p.passband = (v >> 12) & 7;
        p.bank = quint16(((v >> 8) & 0xF) + 6 * d);
        p.order = (v >> 4) & 0xF;
        p.characteristic = v & 0xF;
        p.flag = (v & 0x8000) != 0;
        return true;
    case 1:
        p.frequency = v;
        return true;
    case 2:
        p.sections[0] = v & 0xFF;
        p.sections[1] = v >> 8;
        return true;
    case 3:
        p.sections[2] = v & 0xFF;
        p.sections[3] = v >> 8;
        return true;
    default:
        break;
    }
    p.sections[4] = v & 0xFF;
    p.ripple = (v >> 8) / 10.0;
    if (!err) {
        // The words as the processor took them, the record flag (bit 15) included.
        setValue(c, v);
        setValue(quint16(c - 4), m_pendingHOFWords[0]);
        setValue(quint16(c - 3), m_pendingHOFWords[1]);
        setValue(quint16(c - 2), m_pendingHOFWords[2]);
        setValue(quint16(c - 1), m_pendingHOFWords[3]);
    }
    if (m_owner && m_owner->GetEQManager()) {
        CEQManager* manager = m_owner->GetEQManager();
        const HO_FILTER_PARAMS record = p;
        QMetaObject::invokeMethod(
            manager, [manager, number, record]() { manager->refreshHighOrderFilter(number, record); },
            Qt::QueuedConnection);
    }
    return true;
}

// Setup import and setup names

QByteArray CZunStatusBuffer::encodeSetupName(const QString& name)
{
    // Latin-1 gives one byte per character, so cutting never splits a character; what it
    // cannot represent becomes '?'.
    QByteArray bytes = name.toLatin1().left(SetupNameBytes);
    bytes.append(QByteArray(SetupNameBytes - bytes.size(), ' '));
    return bytes;
}

QString CZunStatusBuffer::decodeSetupName(const QByteArray& bytes)
{
    QByteArray b = bytes.left(SetupNameBytes);
    const int nul = b.indexOf('\0');
    if (nul >= 0)
        b.truncate(nul);
    return QString::fromLatin1(b);
}

void CZunStatusBuffer::importSetup(const CZunStatusBuffer& source, quint16 version, CZun* target)
{
    if (!target)
        target = m_owner;
    const quint16 to = target ? target->GetFirmwareVersion() : 1080;
    const QByteArray src = source.toByteArray();
    QByteArray result;
    if (version == to) {
        result = src;
    } else {
        if (version > to)
            throw std::logic_error(ZunSetupImport::DowngradeText);
        const QByteArray defaults = ZunSetupImport::defaultImage(to);
        // 0: an image of firmware too old to carry its version; read with the newest names.
        if (version != 0 && !CCmdMap::hasVersion(version))
            throw std::logic_error(QStringLiteral("CZunStatusBuffer: setups of firmware %1 are not known. Can not "
                                                  "import this setup.")
                                       .arg(version)
                                       .toStdString());
        CCmdMap oldMap;
        oldMap.setVersion(version);
        QSharedPointer<CCmdMap> newMap = target ? target->GetCmdMap() : QSharedPointer<CCmdMap>();
        if (!newMap) {
            newMap = QSharedPointer<CCmdMap>::create();
            newMap->setVersion(to);
        }
        const ZunSetupImport::MapNames oldNames(oldMap), newNames(*newMap);
        result = ZunSetupImport::convert(src, version, to, defaults, oldNames, newNames, [&newMap](quint16 kind) {
            return CRoutingManager::GetRoutingPresetNumbers(kind, newMap);
        });
    }
    {
        QWriteLocker lock(&m_lock);
        m_image = result;
        m_crc = 0;
        if (version == to || m_modified.load())
            return;
        m_modified.store(true);
    }
    emit signal_SetupModified();
}

// ---------------------------------------------------------------------------------------

namespace
{
enum IpStep : quint64 { HighSent = 1, LowSent = 2, HighPutBack = 3 };
quint64 ipState(quint64 step, quint16 oldHigh, quint32 asked) { return step << 48 | quint64(oldHigh) << 32 | asked; }
} // namespace

void CZunStatusBuffer::setPendingIp(quint32 asked, quint16 oldHigh)
{
    m_pendingIp.store(ipState(HighSent, oldHigh, asked));
}

void CZunStatusBuffer::ipReply(quint16 c, quint16 v, bool taken, bool unanswered)
{
    const quint64 state = m_pendingIp.load();
    const quint64 step = state >> 48;
    if (step == 0 || !m_owner)
        return; // no change of the operator's runs
    const quint16 oldHigh = quint16(state >> 32);
    const quint32 asked = quint32(state);
    const bool high = c == nr("Cmd_IP_Hi");
    auto finish = [this](IpChangeOutcome outcome, quint16 cmd, quint16 value) {
        m_pendingIp.store(0);
        emit signal_IpChangeFinished(outcome, cmd, value);
    };
    if (step == HighSent && high) {
        if (unanswered || !taken) {
            finish(unanswered ? IpUnanswered : IpRefused, c, v);
            return;
        }
        m_pendingIp.store(ipState(LowSent, oldHigh, asked));
        m_owner->SendCmd(nr("Cmd_IP_Lo"), quint16(asked & 0xFFFF));
    } else if (step == LowSent && !high) {
        if (unanswered) {
            finish(IpUnanswered, c, v);
        } else if (taken) {
            finish(IpStored, 0, 0);
        } else {
            m_pendingIp.store(ipState(HighPutBack, oldHigh, asked));
            m_owner->SendCmd(nr("Cmd_IP_Hi"), oldHigh);
        }
    } else if (step == HighPutBack && high) {
        // The report names the half that was refused, not the one put back.
        finish(taken ? IpPutBack : IpMixed, nr("Cmd_IP_Lo"), quint16(asked & 0xFFFF));
    }
}
