#include "ZunOwnStores.h"

#include "CCmdMap.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunMetaCmd.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "ZunSetup.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QSharedPointer>
#include <QThread>

ZunOwnStores::ZunOwnStores(CZun* device) : m_zun(device), m_device(device)
{
    device->holdRunningSetCheck();
    const CMemoryManager* mem = device->GetMemoryManager();
    m_storesAnswered = device->GetStatusBuffer()->storesAnswered();
    m_before = mem->entries();
    const quint16 setupKind = device->GetCmdMap()->getCmdNr("ID_List_Setup");
    const quint16 filterKind = device->GetCmdMap()->getCmdNr("ID_List_Filter");
    CZunSetupManager* setups = device->GetSetupManager();
    for (const CMemoryManager::Entry& e : qAsConst(m_before)) {
        if (e.kind == filterKind) {
            if (const QShPtrFLE copy = device->GetFIRLimManager()->GetFIRFilterCopy(e.id))
                m_setCopies.insert(e.id, copy);
        } else if (e.kind == setupKind && e.slot < setups->listSize()) {
            if (ZunSetup* setup = setups->GetSetup(e.slot)) {
                m_setupsBefore.insert(e.slot, setup);
                m_setupNames.insert(e.id, setup->GetSetupName().trimmed());
            }
        }
    }
}

ZunOwnStores::~ZunOwnStores()
{
    if (m_device)
        m_device->releaseRunningSetCheck();
}

QString ZunOwnStores::setupName(quint32 id) const
{
    const QString name = m_setupNames.value(id);
    return name.isEmpty() ? QStringLiteral("an image %1").arg(id, 8, 16, QLatin1Char('0'))
                          : QStringLiteral("the setup %1").arg(name);
}

bool ZunOwnStores::readDirectory(int timeoutMs)
{
    CMemoryManager* memory = m_zun->GetMemoryManager();
    const auto reads = QSharedPointer<QAtomicInt>::create(0);
    const QMetaObject::Connection read =
        QObject::connect(memory, &CMemoryManager::signal_MemDirChanged, [reads]() { reads->ref(); });
    QMetaObject::invokeMethod(m_zun, "RefreshMemDir", Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    while (reads->loadAcquire() == 0 && m_zun->IsConnected() && !clock.hasExpired(timeoutMs))
        QThread::msleep(20);
    QObject::disconnect(read);
    return reads->loadAcquire() > 0;
}

void ZunOwnStores::remove(const CMemoryManager::Entry& entry)
{
    const CCmdMap& map = *m_zun->GetCmdMap();
    CZunMetaCmd meta(map.getCmdNr("Cmd_MemID2"), entry.kind);
    meta.appendCmd(map.getCmdNr("Cmd_MemID0"), quint16(entry.slot));
    meta.appendCmd(map.getCmdNr("Cmd_MemCopy"), map.getCmdNr("CmdS_DeleteInF"));
    meta.setSupersede(false);
    m_zun->SendMetaCmd(meta);
}

QStringList ZunOwnStores::tidy(int timeoutMs)
{
    if (!m_zun->IsConnected() || !readDirectory(timeoutMs))
        return QStringList();
    const QStringList done = tidyNow();
    if (!done.isEmpty()) {
        QThread::msleep(100); // the stores queued to the managers reach them first
        m_zun->WaitForFlashTransfers(timeoutMs);
        readDirectory(timeoutMs);
    }
    return done;
}

QStringList ZunOwnStores::tidyNow()
{
    QStringList done;
    if (!m_zun->IsConnected())
        return done;
    const quint16 setupKind = m_zun->GetCmdMap()->getCmdNr("ID_List_Setup");
    const quint16 filterKind = m_zun->GetCmdMap()->getCmdNr("ID_List_Filter");
    QSet<quint32> known;
    for (const CMemoryManager::Entry& e : qAsConst(m_before))
        known.insert(e.position);
    const QList<CMemoryManager::Entry> now = m_zun->GetMemoryManager()->entries();
    QList<CMemoryManager::Entry> written;
    for (const CMemoryManager::Entry& e : now)
        if (!known.contains(e.position))
            written << e;
    // Another program stored too: none of the new entries is known to be this operation's,
    // and only a second copy of a set or setup goes (the first stays, whoever wrote it).
    const quint64 ours = m_zun->GetStatusBuffer()->storesAnswered() - m_storesAnswered;
    const bool allOurs = quint64(written.size()) <= ours;

    auto listedElsewhere = [&](const CMemoryManager::Entry& entry) {
        for (const CMemoryManager::Entry& e : now)
            if (e.kind == entry.kind && e.id == entry.id && e.position < entry.position && !m_removed.contains(e.position))
                return true;
        return false;
    };
    auto listedAtStart = [&](quint32 id) {
        for (const CMemoryManager::Entry& e : qAsConst(m_before))
            if (e.kind == filterKind && e.id == id)
                return true;
        return false;
    };
    m_leftAlone.clear();
    QSet<QPair<quint16, int>> ownSlots; // the slots an entry of this operation's holds
    for (const CMemoryManager::Entry& e : qAsConst(written)) {
        if (e.kind == 0 || m_removed.contains(e.position))
            continue;
        if (allOurs)
            ownSlots.insert({e.kind, e.slot});
        bool spoiled = false;
        if (e.kind == filterKind)
            // A set stored twice, one no file of the operation holds (another entry's bytes,
            // or none); a set the flash held at the start stays where this entry is its only copy.
            spoiled = listedElsewhere(e) || (allOurs && !m_sets.contains(e.id) && !listedAtStart(e.id));
        else if (e.kind == setupKind)
            spoiled = allOurs && m_setups.value(e.slot) != e.id;
        if (!spoiled) {
            const bool meant = e.kind == filterKind ? m_sets.contains(e.id) || listedAtStart(e.id)
                                                    : e.kind != setupKind || m_setups.value(e.slot) == e.id;
            if (!meant)
                m_leftAlone << (e.kind == filterKind
                                    ? QStringLiteral("FIR/limiter slot %1 holds the entry %2").arg(e.slot)
                                    : QStringLiteral("Setup position %1 holds the entry %2").arg(e.slot))
                                   .arg(e.id, 8, 16, QLatin1Char('0'));
            continue;
        }
        m_removed.insert(e.position);
        remove(e);
        if (e.kind == filterKind)
            done << QStringLiteral("FIR/limiter slot %1: removed the entry %2, which a store spoiled by another "
                                   "program left there%3")
                        .arg(e.slot)
                        .arg(e.id, 8, 16, QLatin1Char('0'))
                        .arg(listedElsewhere(e) ? QStringLiteral(" (a second copy of a stored set)") : QString());
        else
            done << QStringLiteral("Setup position %1: removed %2, which a store spoiled by another program put "
                                   "there")
                        .arg(e.slot)
                        .arg(setupName(e.id));
    }
    // What one of this operation's entries replaced (its slot holds ours now) and the flash
    // no longer holds is stored again.
    for (const CMemoryManager::Entry& e : qAsConst(m_before)) {
        if (e.kind == 0 || !ownSlots.contains({e.kind, e.slot}))
            continue;
        bool kept = false;
        for (const CMemoryManager::Entry& n : now)
            kept = kept || (n.position == e.position && n.kind != 0);
        if (kept)
            continue;
        if (e.kind == filterKind && m_setCopies.contains(e.id) && !m_restored.contains(e.id)
            && !m_zun->GetMemoryManager()->hasFilterId(e.id)) {
            m_sets.insert(e.id);
            m_restored.insert(e.id);
            m_zun->UploadFIRFilter(m_setCopies.value(e.id), 0);
            done << QStringLiteral("FIR/limiter set %1 (%2): stored again, a store spoiled by another program had "
                                   "replaced it")
                        .arg(m_setCopies.value(e.id)->GetName())
                        .arg(e.id, 8, 16, QLatin1Char('0'));
        } else if (e.kind == setupKind && !m_setups.contains(e.slot) && m_setupsBefore.value(e.slot)) {
            CZunSetupManager* setups = m_zun->GetSetupManager();
            ZunSetup* setup = m_setupsBefore.value(e.slot).data();
            const int position = e.slot;
            m_setups.insert(position, e.id);
            QMetaObject::invokeMethod(setups, [setups, setup, position]() { setups->UploadSetup(setup, position); },
                                      Qt::QueuedConnection);
            done << QStringLiteral("Setup position %1: %2 stored again, a store spoiled by another program had "
                                   "replaced it")
                        .arg(e.slot)
                        .arg(setupName(e.id));
        }
    }
    return done;
}
