#include "ZunDSPProgramManager.h"

#include "CCmdMap.h"
#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunMetaCmd.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunBlockFailures.h"
#include "ZunWaitingCall.h"

#include <QDebug>
#include <QMutexLocker>

#include <stdexcept>

namespace
{
constexpr quint16 ListAppend = 254;
} // namespace

ZunDSPProgramManager::ZunDSPProgramManager(CZun* zun) : m_zun(zun), m_map(zun->GetCmdMap())
{
    m_programs.append(ZunDSPProgramInfo(0, zun->GetFirmwareVersion()));
    connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_DSPProgUploaded, this,
            &ZunDSPProgramManager::on_DSPProgUploaded);
    zunConnectWaiting(zun, &CZun::signal_UploadDSPProgram, this,
                      QOverload<quint16>::of(&ZunDSPProgramManager::UploadDSPProgram));
    zunConnectWaiting(zun, &CZun::signal_ActivateDSPProgram, this, &ZunDSPProgramManager::ActivateDSPProgram);
    connect(zun, &CZun::signal_Disconnected, this, &ZunDSPProgramManager::on_Disconnected, Qt::QueuedConnection);
    forwardFailedBlockWrites(zun->GetLink(), this);
}

ZunDSPProgramManager::~ZunDSPProgramManager()
{
    // A transfer cut by the quit still holds the lock; its completion never comes.
    while (m_heldLevels > 0)
        release();
}

quint16 ZunDSPProgramManager::nr(const char* name) const { return m_map->getCmdNr(name); }

QList<ZunDSPProgramInfo> ZunDSPProgramManager::programs() const
{
    QMutexLocker lock(&m_lock);
    return m_programs;
}

int ZunDSPProgramManager::pendingUploads() const
{
    QMutexLocker lock(&m_lock);
    return m_pendingUploads;
}

// The emitting thread does not see an exception of a blocking slot: it goes to the user.
void ZunDSPProgramManager::report(const std::exception& e)
{
    const QString text = QString::fromStdString(e.what());
    qWarning().noquote() << "ZunDSPProgramManager:" << text;
    emit m_zun->signal_exception(text, QStringLiteral("ZunControl"));
}

void ZunDSPProgramManager::initialize()
{
    try {
        m_map = m_zun->GetCmdMap();
        const quint16 fw = m_zun->GetFirmwareVersion();
        {
            QMutexLocker lock(&m_lock);
            m_programs.clear();
        }
        auto add = [this](const ZunDSPProgramInfo& p) {
            QMutexLocker lock(&m_lock);
            if (!m_programs.contains(p))
                m_programs.append(p);
        };
        if (m_zun->GetDSPType() == nr("Inf_DSPTyp0"))
            add(ZunDSPProgramInfo(nr("Inf_DSP0000_307_0"), fw));
        CMemoryManager* mem = m_zun->GetMemoryManager();
        for (int p = 0; p < mem->dspProgramListSize(); ++p) {
            const quint16 id = mem->dspProgramIdAt(p);
            if (id == 0)
                continue;
            try {
                add(ZunDSPProgramInfo(id, fw));
            } catch (const std::logic_error&) {
                // An id this program cannot describe is nothing it could upload either.
                qWarning() << "ZunDSPProgramManager: unknown DSP program id in the flash" << Qt::hex << id;
            }
        }
        {
            // Uploads in flight stay listed: the flash lists them once they are stored.
            QMutexLocker lock(&m_lock);
            for (quint16 id : qAsConst(m_uploading)) {
                ZunDSPProgramInfo p(id, fw);
                if (!m_programs.contains(p))
                    m_programs.append(p);
            }
        }
        verifyStores();
    } catch (const std::exception& e) {
        report(e);
    }
    emit signal_ListDSPProgramsRefreshed();
}

void ZunDSPProgramManager::UploadDSPProgram(quint16 id)
{
    try {
        upload(ZunDSPProgramInfo(id, m_zun->GetFirmwareVersion()));
    } catch (const std::exception& e) {
        report(e);
    }
}

void ZunDSPProgramManager::UploadDSPProgram(ZunDSPProgramInfo program)
{
    try {
        upload(program);
    } catch (const std::exception& e) {
        report(e);
    }
}

void ZunDSPProgramManager::verifyStores()
{
    CMemoryManager* mem = m_zun->GetMemoryManager();
    const QList<quint16> ids = m_unverified.keys();
    for (const quint16 id : ids) {
        const Unverified store = m_unverified.value(id);
        if (m_uploading.contains(id) || mem->storesAnsweredBefore() < store.answeredAt)
            continue; // a later directory tells
        // The processor lists a program by the upper half of the entry's id; what the entry
        // holds shows only in the flash it spans, which another program's bytes (a setup, an
        // image) would not fill.
        bool stored = false, unknown = false;
        QList<int> spoiled;
        for (int p = 0; p < mem->dspProgramListSize(); ++p) {
            if (mem->dspProgramIdAt(p) != id)
                continue;
            const quint32 span = mem->dspProgramSpanAt(p);
            if (span == 0)
                unknown = true;
            else if (span >= store.length)
                stored = true;
            else
                spoiled << p;
        }
        if (!stored && unknown)
            continue; // the last entry: the next one stored tells how long it is
        m_unverified.remove(id);
        if (stored) {
            m_storeTries.forget(id);
            continue;
        }
        const QString name = QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
        if (!m_storeTries.sendAgain(id)) {
            emit m_zun->signal_exception(QStringLiteral("The DSP program %1 was sent to the processor three times, and "
                                                        "each time it stored something else (another program used it "
                                                        "meanwhile). Activate what needs it again to send it once more.")
                                             .arg(name),
                                         QStringLiteral("DSP program not stored"));
            continue;
        }
        emit m_zun->signal_LogMessage(QStringLiteral("The processor stored something else in place of the DSP program "
                                                     "%1 (another program used it meanwhile): it is sent again.")
                                          .arg(name),
                                      true);
        try {
            upload(ZunDSPProgramInfo(id, m_zun->GetFirmwareVersion()), spoiled.isEmpty() ? QList<int>{-1} : spoiled);
        } catch (const std::exception& e) {
            report(e);
        }
    }
}

void ZunDSPProgramManager::upload(const ZunDSPProgramInfo& record, const QList<int>& spoiled)
{
    ZunDSPProgramInfo program = record;
    program.setDSPType(m_zun->GetDSPType());
    // Sent again: the flash may list it in the entry the spoiled store left.
    const bool again = !spoiled.isEmpty();
    if (!again && m_zun->GetMemoryManager()->hasDSPProgramId(program.progID()))
        return;
    {
        QMutexLocker lock(&m_lock);
        if (!again && m_programs.lastIndexOf(program) >= 0)
            return; // in the flash, or on its way there
    }
    const QByteArray image = program.readProgram();

    // What the spoiled stores left goes first: the program is known by its id alone, and
    // no entry of other bytes may stay listed under it.
    CZunMetaCmd meta;
    for (const int slot : spoiled) {
        if (slot < 0)
            continue;
        meta.appendCmd(nr("Cmd_MemID2"), nr("ID_List_DSP_Prog"));
        meta.appendCmd(nr("Cmd_MemID0"), quint16(slot));
        meta.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_DeleteInF"));
    }
    meta.append(CZunCmd(nr("ID_RX_Block_Start"), quint16(image.size()), image));
    meta.appendCmd(nr("Cmd_MemID2"), nr("ID_List_DSP_Prog"));
    meta.appendCmd(nr("Cmd_MemID0"), ListAppend);
    if (m_zun->GetFirmwareVersion() >= 1071)
        meta.appendCmd(nr("Cmd_Block_ID"), program.progID());
    meta.appendCmd(nr("Cmd_MemCopy"), quint16(nr("ID_FAI_Ctrl_w_RxTxBuf") + nr("CmdS_CopyRxTxBuf2F")));
    meta.setSupersede(false);

    m_transferLock.lock();
    ++m_heldLevels;
    {
        QMutexLocker lock(&m_lock);
        m_programs.append(program);
        ++m_pendingUploads;
    }
    m_uploading.append(program.progID());
    m_uploadingImages.append(image);
    if (m_zun->SendMetaCmd(meta) != 0) {
        // Not sent: nothing will complete it, and it is not on its way.
        m_uploading.removeLast();
        m_uploadingImages.removeLast();
        {
            QMutexLocker lock(&m_lock);
            --m_pendingUploads;
            m_programs.removeAll(program);
        }
        release();
        if (keptByReportedLoss(m_zun, program.fileName()))
            return;
        // Never a store the operator started: a disconnect asked meanwhile ends it quietly,
        // and what needs the program sends it again at the next connection.
        if (!m_zun->IsConnected() && m_zun->IsDisconnectAsked() && skippedWithoutLink(m_zun, program.fileName()))
            return;
        throw std::logic_error(QStringLiteral("DSP program %1 was not uploaded: the device is not connected.")
                                   .arg(program.fileName())
                                   .toStdString());
    }
}

void ZunDSPProgramManager::release()
{
    if (m_heldLevels <= 0)
        return;
    --m_heldLevels;
    m_transferLock.unlock();
}

void ZunDSPProgramManager::on_DSPProgUploaded(bool ok)
{
    if (m_heldLevels <= 0)
        return; // a completion of no upload of ours
    {
        QMutexLocker lock(&m_lock);
        const quint16 id = m_uploading.isEmpty() ? 0 : m_uploading.takeFirst();
        const QByteArray sent = m_uploadingImages.isEmpty() ? QByteArray() : m_uploadingImages.takeFirst();
        // Taken: it counts once a directory lists it with the checksum of what was sent.
        if (ok && id != 0 && !sent.isEmpty())
            m_unverified.insert(id, {quint32(sent.size()), m_zun->GetStatusBuffer()->storesAnswered()});
        if (m_pendingUploads > 0)
            --m_pendingUploads;
        if (!ok) {
            // Not in the flash: the next request must upload it again.
            const int i = m_programs.lastIndexOf(ZunDSPProgramInfo(id, m_zun->GetFirmwareVersion()));
            if (i >= 0)
                m_programs.removeAt(i);
            emit m_zun->signal_LogMessage(QStringLiteral("DSP program %1 could not be stored in the flash.")
                                              .arg(id, 4, 16, QLatin1Char('0')),
                                          true);
        }
    }
    release();
}

void ZunDSPProgramManager::on_Disconnected()
{
    QMutexLocker lock(&m_lock);
    m_storeTries.clear();
    const quint16 fw = m_zun->GetFirmwareVersion();
    for (quint16 id : qAsConst(m_uploading)) {
        const int i = m_programs.lastIndexOf(ZunDSPProgramInfo(id, fw));
        if (i >= 0)
            m_programs.removeAt(i);
    }
    m_uploading.clear();
    m_uploadingImages.clear();
    m_pendingUploads = 0;
    while (m_heldLevels > 0)
        release();
}

void ZunDSPProgramManager::on_BlockFailed(QByteArray payload)
{
    if (!m_uploadingImages.isEmpty() && m_uploadingImages.first() == payload)
        on_DSPProgUploaded(false);
}

void ZunDSPProgramManager::ActivateDSPProgram(quint16 id0, quint16 id1)
{
    try {
        activate(id0, id1);
    } catch (const std::exception& e) {
        report(e);
    }
}

bool ZunDSPProgramManager::isRunning(quint16 id0, quint16 id1) const
{
    const quint16 fw = m_zun->GetFirmwareVersion();
    const quint16 type = m_zun->GetDSPType();
    ZunDSPProgramInfo p0(id0, fw), p1(id1, fw);
    p0.setDSPType(type);
    p1.setDSPType(type);
    // A reference of our own: the device object may take another map meanwhile.
    const QSharedPointer<CCmdMap> map = m_zun->GetCmdMap();
    const CZunStatusBuffer* image = m_zun->GetStatusBuffer();
    return image->getValue(map->getCmdNr("Cmd_0_DSP_ID")) == p0.progID()
        && (!m_zun->GetHardwareInfo().isDoubleBoard() || image->getValue(map->getCmdNr("Cmd_1_DSP_ID")) == p1.progID());
}

void ZunDSPProgramManager::activate(quint16 id0, quint16 id1)
{
    const bool doubleBoard = m_zun->GetHardwareInfo().isDoubleBoard();
    const quint16 fw = m_zun->GetFirmwareVersion();
    const quint16 type = m_zun->GetDSPType();
    ZunDSPProgramInfo p0(id0, fw), p1(id1, fw);
    p0.setDSPType(type);
    p1.setDSPType(type);
    if (fw < 1071)
        return;
    const quint16 c0 = nr("Cmd_0_DSP_ID");
    const quint16 c1 = nr("Cmd_1_DSP_ID");
    if (isRunning(id0, id1))
        return;
    CZunMetaCmd meta(c0, p0.progID());
    if (doubleBoard)
        meta.appendCmd(c1, p1.progID());
    meta.appendCmd(nr("Cmd_DSP_Boot"), nr("ID_DSP_Prog_Over_ID"));
    meta.appendCmd(nr("Cmd_DSP_InitAllPar"), 0);
    meta.appendCmd(nr("ID_TX_CmdReq"), nr("Cmd_0_DSP_Mem"));
    meta.setSupersede(false);
    m_zun->SendMetaCmd(meta);
}
