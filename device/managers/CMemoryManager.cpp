#include "CMemoryManager.h"

#include "CCmdMap.h"
#include "CZun.h"

#include <QtEndian>
#include <QtGlobal>

#include <algorithm>
#include <utility>
#include <stdexcept>

namespace {

constexpr const char* IdCaller = "GetIndexAtFATEntry";
constexpr const char* PosCaller = "GetMemPosAtFATEntry";

quint32 readU32(const QByteArray& raw, int offset)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(raw.constData()) + offset);
}

quint8 byteAt(const QByteArray& raw, int offset)
{
    return static_cast<quint8>(raw.at(offset));
}

} // namespace

CMemoryManager::CMemoryManager() : QObject(nullptr) {}

void CMemoryManager::initConstants(CZun* device)
{
    initConstants(device->GetCmdMap(), device->GetFirmwareVersion());
}

void CMemoryManager::initConstants(QSharedPointer<CCmdMap> map, quint16 firmwareVersion)
{
    if (!map)
        throw std::logic_error("CMemoryManager::initConstants(): no command map.");

    // Read everything first so that a missing name leaves the old constants intact.
    Constants c;
    c.entryLayout = firmwareVersion >= EntryLayoutFirmware;
    c.listNoEntry = map->getCmdNr("ID_ListNoEntry");
    c.listAppend = map->getCmdNr("ID_ListAppend");
    if (c.entryLayout) {
        c.mdlEntriesMax = map->getCmdNr("ID_MDL_Entries_Max");
        c.mdlSize = quint32(c.mdlEntriesMax) * EntrySize;
        c.sizeOfFlagListMDL = map->getCmdNr("ID_SizeOfFlagListMDL");
        c.typeSetup = map->getCmdNr("ID_List_Setup");
        c.typeFilter = map->getCmdNr("ID_List_Filter");
        c.typeDSPProg = map->getCmdNr("ID_List_DSP_Prog");
    } else {
        c.sizeOfMemDir = map->getCmdNr("ID_SizeOfMemDir");
        c.sizeMemLists = map->getCmdNr("ID_SizeMemLists");
        c.sizeListFilter = map->getCmdNr("ID_SizeListFilter");
        c.startListFilter = map->getCmdNr("ID_StartListFilter");
        c.sizeListSetup = map->getCmdNr("ID_SizeListSetup");
        c.startListSetup = map->getCmdNr("ID_StartListSetup");
        c.sizeListDSPProg = map->getCmdNr("ID_SizeListDSPProg");
        c.startListDSPProg = map->getCmdNr("ID_StartListDSPProg");
        c.sizeListSetupEQ = map->getCmdNr("ID_SizeListSetupEQ");
        c.startListSetupEQ = map->getCmdNr("ID_StartListSetupEQ");
        c.sizeListDelete = map->getCmdNr("ID_SizeListDelete");
        c.startListDelete = map->getCmdNr("ID_StartListDelete");
        c.maxDataBlocks = map->contains("MaxDataBlocks") ? map->getCmdNr("MaxDataBlocks") : 219;
    }
    c.initialised = true;

    QWriteLocker lock(&m_lock);
    m_const = c;
}

int CMemoryManager::entryBound(const Constants& c)
{
    if (!c.initialised)
        return 0;
    return c.entryLayout ? int(c.mdlEntriesMax) : (int(c.sizeOfMemDir) - 1) >> 1;
}

QString CMemoryManager::checkBlock(const Constants& c, const QByteArray& block)
{
    if (!c.initialised)
        return QStringLiteral("no layout constants yet");
    const int size = block.size();
    if (c.entryLayout) {
        if (size % EntrySize != 0)
            return QStringLiteral("%1 bytes is not a whole number of %2-byte entries").arg(size).arg(EntrySize);
        if (size / EntrySize > c.mdlEntriesMax)
            return QStringLiteral("%1 entries exceed the maximum of %2").arg(size / EntrySize).arg(c.mdlEntriesMax);
        return QString();
    }
    // The list area must hold its nominal size and every list the constants place in it.
    int listBytes = c.sizeMemLists;
    listBytes = std::max(listBytes, c.startListFilter + c.sizeListFilter);
    listBytes = std::max(listBytes, c.startListSetup + c.sizeListSetup);
    listBytes = std::max(listBytes, c.startListDSPProg + c.sizeListDSPProg);
    listBytes = std::max(listBytes, c.startListDelete + c.sizeListDelete);
    const int needed = listAreaOffset(c) + listBytes;
    if (size < needed)
        return QStringLiteral("%1 bytes, the list layout needs at least %2").arg(size).arg(needed);
    const int count = byteAt(block, 0);
    if (count > listLayoutCapacity(c))
        return QStringLiteral("entry count %1 exceeds the %2 entries of the list layout")
            .arg(count).arg(listLayoutCapacity(c));
    return QString();
}

quint32 CMemoryManager::entryField(const Constants& c, const QByteArray& raw, quint32 entries,
                                   quint16 nr, int field, const char* caller)
{
    if (nr == c.listNoEntry)
        return 0;
    int offset = -1;
    if (c.entryLayout) {
        if (nr < entries)
            offset = int(nr) * EntrySize + 4 * field;
    } else if (nr < entries && int(nr) < listLayoutCapacity(c) && 4 + 8 * int(nr) + 8 <= raw.size()) {
        // Only the counted entries exist: the bytes after them are left-overs, not setups.
        offset = 4 + 8 * int(nr) + 4 * field;
    }
    if (offset < 0)
        throw std::logic_error(QStringLiteral("CMemoryManager::%1(): nr is out of FAT limits.")
                                   .arg(QLatin1String(caller)).toStdString());
    return readU32(raw, offset);
}

CMemoryManager::Directory CMemoryManager::parseEntryLayout(const Constants& c, const QByteArray& block)
{
    Directory d;
    d.raw = block;
    d.entryCount = quint32(block.size() / EntrySize);
    for (int i = 0; i < c.sizeOfFlagListMDL; ++i) {
        d.filterIds.append(0);
        d.setupIds.append(0);
        d.dspProgramIds.append(0);
        d.dspProgramSpans.append(0);
    }
    QList<quint32> positions;
    for (quint32 n = 0; n < d.entryCount; ++n)
        positions << readU32(block, int(n) * EntrySize);
    for (quint32 n = 0; n < d.entryCount; ++n) {
        const int at = int(n) * EntrySize;
        const quint32 position = readU32(block, at);
        const quint32 id = readU32(block, at + 4);
        const quint8 type = byteAt(block, at + 8);
        const quint8 slot = byteAt(block, at + 9);
        if (slot == c.listAppend) {
            // Deleted, but it still occupies flash until a garbage collection.
            ++d.deleted;
            continue;
        }
        QList<quint32>* ids = nullptr;
        quint16* count = nullptr;
        if (type == c.typeSetup) {
            ids = &d.setupIds;
            count = &d.setups;
        } else if (type == c.typeFilter) {
            ids = &d.filterIds;
            count = &d.filters;
        } else if (type != c.typeDSPProg) {
            throw std::logic_error(QStringLiteral("MemDir Entry: %1, %2, %3, %4")
                                       .arg(position, 0, 16)
                                       .arg(slot, 0, 16)
                                       .arg(type)
                                       .arg(id, 0, 16)
                                       .toStdString());
        }
        // An entry without a slot, or with one beyond the list, is listed nowhere.
        if (slot == c.listNoEntry || slot >= c.sizeOfFlagListMDL)
            continue;
        if (ids) {
            (*ids)[slot] = id;
            ++*count;
        } else {
            // a DSP program is known by the upper half of its id
            d.dspProgramIds[slot] = quint16(id >> 16);
            d.dspProgramSpans[slot] = spanFrom(position, positions);
            ++d.dspPrograms;
        }
    }
    return d;
}

CMemoryManager::Directory CMemoryManager::parseListLayout(const Constants& c, const QByteArray& block)
{
    Directory d;
    d.raw = block;
    d.entryCount = byteAt(block, 0);
    const int lists = listAreaOffset(c);
    auto idOfSlot = [&](int listStart, int i) {
        return entryField(c, block, d.entryCount, byteAt(block, lists + listStart + i), 1, IdCaller);
    };
    for (int i = 0; i < c.sizeListFilter; ++i) {
        const quint32 id = idOfSlot(c.startListFilter, i);
        d.filterIds.append(id);
        if (id != 0)
            ++d.filters;
    }
    for (int i = 0; i < c.sizeListSetup; ++i) {
        const quint32 id = idOfSlot(c.startListSetup, i);
        d.setupIds.append(id);
        if (id != 0)
            ++d.setups;
    }
    QList<quint32> positions;
    for (quint32 n = 0; n < d.entryCount && int(n) < listLayoutCapacity(c) && 4 + 8 * int(n) + 8 <= block.size(); ++n)
        positions << readU32(block, 4 + 8 * int(n));
    for (int i = 0; i < c.sizeListDSPProg; ++i) {
        const quint8 nr = byteAt(block, lists + c.startListDSPProg + i);
        const quint32 entry = idOfSlot(c.startListDSPProg, i);
        const quint16 program = quint16(entry >> 16);
        d.dspProgramIds.append(program);
        d.dspProgramSpans.append(
            program == 0 ? 0 : spanFrom(entryField(c, block, d.entryCount, nr, 0, PosCaller), positions));
        if (program != 0)
            ++d.dspPrograms;
    }
    for (int i = 0; i < c.sizeListDelete; ++i) {
        if (byteAt(block, lists + c.startListDelete + i) != c.listNoEntry)
            ++d.deleted;
    }
    return d;
}

quint64 CMemoryManager::storesAnsweredBefore() const { return m_storesAnswered.load(); }

void CMemoryManager::SetMemDir(QByteArray directory, quint64 storesAnswered)
{
    Constants c;
    quint32 flash = 0;
    {
        QReadLocker lock(&m_lock);
        c = m_const;
        flash = m_flashSize;
    }

    const QString problem = checkBlock(c, directory);
    if (!problem.isEmpty()) {
        qWarning("CMemoryManager::SetMemDir(): directory block refused: %s.", qPrintable(problem));
        return;
    }

    // Parse into a local directory: a throw leaves the previous one in place.
    Directory parsed = c.entryLayout ? parseEntryLayout(c, directory) : parseListLayout(c, directory);

    quint32 lastPosition = 0;
    if (parsed.entryCount != 0 && parsed.entryCount - 1 != c.listNoEntry)
        lastPosition = entryField(c, parsed.raw, parsed.entryCount, quint16(parsed.entryCount - 1), 0, PosCaller);
    // A last entry beyond the flash end leaves nothing, not a wrapped-around 4 GiB.
    const quint32 left = lastPosition >= flash ? 0 : flash - lastPosition;

    {
        QWriteLocker lock(&m_lock);
        m_dir = std::move(parsed);
        m_valid = true;
        m_low = left < LowMemoryThreshold;
    }
    m_storesAnswered.store(storesAnswered);
    emit signal_MemDirChanged();

    if (left < LowMemoryThreshold)
        emit signal_LowMemory();
}

quint32 CMemoryManager::GetIndexAtFATEntry(quint16 nr) const
{
    QReadLocker lock(&m_lock);
    return entryField(m_const, m_dir.raw, m_dir.entryCount, nr, 1, IdCaller);
}

quint32 CMemoryManager::GetMemPosAtFATEntry(quint16 nr) const
{
    QReadLocker lock(&m_lock);
    return entryField(m_const, m_dir.raw, m_dir.entryCount, nr, 0, PosCaller);
}

void CMemoryManager::incTransfers()
{
    QMutexLocker lock(&m_transferMutex);
    ++m_pendingTransfers;
}

void CMemoryManager::decTransfers()
{
    bool drained = false;
    {
        QMutexLocker lock(&m_transferMutex);
        if (m_pendingTransfers == 0) {
            qWarning("CMemoryManager::decTransfers(): no transfer is pending.");
            return;
        }
        drained = (--m_pendingTransfers == 0);
    }
    if (drained)
        emit signal_RequestRefresh();
}

quint16 CMemoryManager::pendingTransfers() const
{
    QMutexLocker lock(&m_transferMutex);
    return m_pendingTransfers;
}

int CMemoryManager::freeEntries() const
{
    const int pending = pendingTransfers();
    QReadLocker lock(&m_lock);
    return entryBound(m_const) - pending - int(m_dir.entryCount);
}

quint32 CMemoryManager::entryCount() const
{
    QReadLocker lock(&m_lock);
    return m_dir.entryCount;
}

bool CMemoryManager::isValid() const
{
    QReadLocker lock(&m_lock);
    return m_valid;
}

bool CMemoryManager::isLow() const
{
    QReadLocker lock(&m_lock);
    return m_low;
}

quint32 CMemoryManager::flashSize() const
{
    QReadLocker lock(&m_lock);
    return m_flashSize;
}

void CMemoryManager::setFlashSize(quint32 bytes)
{
    QWriteLocker lock(&m_lock);
    m_flashSize = bytes;
}

quint16 CMemoryManager::setupListSize() const
{
    QReadLocker lock(&m_lock);
    return m_const.entryLayout ? m_const.sizeOfFlagListMDL : m_const.sizeListSetup;
}

quint16 CMemoryManager::filterListSize() const
{
    QReadLocker lock(&m_lock);
    return m_const.entryLayout ? m_const.sizeOfFlagListMDL : m_const.sizeListFilter;
}

quint16 CMemoryManager::dspProgramListSize() const
{
    QReadLocker lock(&m_lock);
    return m_const.entryLayout ? m_const.sizeOfFlagListMDL : m_const.sizeListDSPProg;
}

quint16 CMemoryManager::deletedCount() const
{
    QReadLocker lock(&m_lock);
    return m_dir.deleted;
}

quint16 CMemoryManager::filterCount() const
{
    QReadLocker lock(&m_lock);
    return m_dir.filters;
}

quint16 CMemoryManager::setupCount() const
{
    QReadLocker lock(&m_lock);
    return m_dir.setups;
}

quint16 CMemoryManager::dspProgramCount() const
{
    QReadLocker lock(&m_lock);
    return m_dir.dspPrograms;
}

quint32 CMemoryManager::setupIdAt(int position) const
{
    QReadLocker lock(&m_lock);
    return m_dir.setupIds.value(position, 0);
}

quint32 CMemoryManager::filterIdAt(int position) const
{
    QReadLocker lock(&m_lock);
    return m_dir.filterIds.value(position, 0);
}

quint16 CMemoryManager::dspProgramIdAt(int position) const
{
    QReadLocker lock(&m_lock);
    return m_dir.dspProgramIds.value(position, 0);
}

quint32 CMemoryManager::dspProgramSpanAt(int position) const
{
    QReadLocker lock(&m_lock);
    return m_dir.dspProgramSpans.value(position, 0);
}

quint32 CMemoryManager::spanFrom(quint32 position, const QList<quint32>& positions)
{
    quint32 next = 0;
    for (const quint32 p : positions)
        if (p > position && (next == 0 || p < next))
            next = p;
    return next == 0 ? 0 : next - position;
}

bool CMemoryManager::hasFilterId(quint32 id) const
{
    if (id == 0)
        return false;
    QReadLocker lock(&m_lock);
    return m_dir.filterIds.contains(id);
}

bool CMemoryManager::hasDSPProgramId(quint16 id) const
{
    if (id == 0)
        return false;
    QReadLocker lock(&m_lock);
    return m_dir.dspProgramIds.contains(id);
}

int CMemoryManager::GetFilterListPos(quint32 id) const
{
    QReadLocker lock(&m_lock);
    return m_dir.filterIds.indexOf(id);
}

QList<CMemoryManager::Entry> CMemoryManager::entries() const
{
    QReadLocker lock(&m_lock);
    const Constants& c = m_const;
    QList<Entry> list;
    for (quint32 n = 0; n < m_dir.entryCount && n != c.listNoEntry; ++n) {
        Entry e;
        e.position = entryField(c, m_dir.raw, m_dir.entryCount, quint16(n), 0, PosCaller);
        e.id = entryField(c, m_dir.raw, m_dir.entryCount, quint16(n), 1, IdCaller);
        if (c.entryLayout) {
            const quint8 slot = byteAt(m_dir.raw, int(n) * EntrySize + 9);
            if (slot != c.listAppend && slot != c.listNoEntry && slot < c.sizeOfFlagListMDL) {
                e.kind = byteAt(m_dir.raw, int(n) * EntrySize + 8);
                e.slot = slot;
            }
        }
        list.append(e);
    }
    if (!c.entryLayout) {
        // The lists name their entries by number.
        const int lists = listAreaOffset(c);
        const auto mark = [&](quint16 start, quint16 size, quint16 kind) {
            for (int i = 0; i < size; ++i) {
                const int nr = byteAt(m_dir.raw, lists + start + i);
                if (nr < list.size()) {
                    list[nr].kind = kind;
                    list[nr].slot = i;
                }
            }
        };
        mark(c.startListSetup, c.sizeListSetup, c.typeSetup);
        mark(c.startListFilter, c.sizeListFilter, c.typeFilter);
        mark(c.startListDSPProg, c.sizeListDSPProg, c.typeDSPProg);
    }
    return list;
}
