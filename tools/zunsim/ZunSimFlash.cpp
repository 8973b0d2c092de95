#include "ZunSimFlash.h"

#include "CCmdMap.h"

#include <QtEndian>

namespace
{
void putU32(QByteArray& b, int at, quint32 v)
{
    qToLittleEndian<quint32>(v, reinterpret_cast<uchar*>(b.data()) + at);
}
} // namespace

ZunSimFlash::ZunSimFlash(quint16 firmware) : m_entryLayout(firmware >= 1077)
{
    CCmdMap map;
    map.setVersion(CCmdMap::hasVersion(firmware) ? firmware : 0);
    auto get = [&map](const char* name, int fallback) {
        return map.contains(QLatin1String(name)) ? int(map.getCmdNr(name)) : fallback;
    };
    m_append = quint8(get("ID_ListAppend", 254));
    m_noEntry = quint8(get("ID_ListNoEntry", 255));
    m_kindSetup = quint8(get("ID_List_Setup", 1));
    m_kindFilter = quint8(get("ID_List_Filter", 2));
    m_kindProg = quint8(get("ID_List_DSP_Prog", 3));
    m_sizeOfMemDir = get("ID_SizeOfMemDir", 101);
    m_sizeMemLists = get("ID_SizeMemLists", 190);
    m_startSetup = get("ID_StartListSetup", 0);
    m_sizeSetup = get("ID_SizeListSetup", 30);
    m_startFilter = get("ID_StartListFilter", 30);
    m_sizeFilter = get("ID_SizeListFilter", 50);
    m_startProg = get("ID_StartListDSPProg", 80);
    m_sizeProg = get("ID_SizeListDSPProg", 10);
    m_startDelete = get("ID_StartListDelete", 110);
    m_sizeDelete = get("ID_SizeListDelete", 80);
    m_mdlMax = get("ID_MDL_Entries_Max", 219);
    m_flagList = get("ID_SizeOfFlagListMDL", 100);
}

int ZunSimFlash::listSize(quint8 kind) const
{
    if (kind != m_kindSetup && kind != m_kindFilter && kind != m_kindProg)
        return 0;
    if (m_entryLayout)
        return m_flagList;
    return kind == m_kindSetup ? m_sizeSetup : kind == m_kindFilter ? m_sizeFilter : m_sizeProg;
}

int ZunSimFlash::listStart(quint8 kind) const
{
    return kind == m_kindSetup ? m_startSetup : kind == m_kindFilter ? m_startFilter : m_startProg;
}

int ZunSimFlash::maxEntries() const
{
    if (m_entryLayout)
        return m_mdlMax;
    // The entry table ends where the list area begins; deleted entries must also fit
    // into the delete list.
    return qMin((4 * m_sizeOfMemDir - 4) / 8, m_sizeDelete);
}

quint32 ZunSimFlash::endOfEntries() const
{
    if (m_entries.isEmpty())
        return FirmwareAreaSize;
    const Entry& last = m_entries.last();
    return last.position + quint32(last.data.size());
}

const ZunSimFlash::Entry* ZunSimFlash::find(quint8 kind, quint8 slot) const
{
    if (slot == m_append || slot == m_noEntry)
        return nullptr;
    for (const Entry& e : m_entries)
        if (e.kind == kind && e.slot == slot)
            return &e;
    return nullptr;
}

const ZunSimFlash::Entry* ZunSimFlash::findId(quint8 kind, quint32 id, bool upperHalf) const
{
    for (const Entry& e : m_entries) {
        if (e.kind != kind || e.slot == deletedSlot())
            continue;
        if (upperHalf ? (e.id >> 16) == id : e.id == id)
            return &e;
    }
    return nullptr;
}

ZunSimFlash::Result ZunSimFlash::store(quint8 kind, quint8 slot, quint32 id, const QByteArray& data,
                                       quint8* usedSlot)
{
    const int size = listSize(kind);
    if (size == 0)
        return Result::BadSlot;
    if (slot == m_append) {
        slot = m_noEntry;
        for (int s = 0; s < size; ++s) {
            if (!find(kind, quint8(s))) {
                slot = quint8(s);
                break;
            }
        }
        if (slot == m_noEntry)
            return Result::Full;
    } else if (slot >= size) {
        return Result::BadSlot;
    }
    if (m_entries.size() >= maxEntries())
        return Result::Full;
    const quint32 position = (endOfEntries() + PageSize - 1) / PageSize * PageSize;
    if (quint64(position) + quint64(data.size()) > FlashSize)
        return Result::NoSpace;
    for (Entry& e : m_entries)
        if (e.kind == kind && e.slot == slot)
            e.slot = deletedSlot();
    Entry e;
    e.position = position;
    e.id = id;
    e.kind = kind;
    e.slot = slot;
    e.data = data;
    m_entries.append(e);
    if (usedSlot)
        *usedSlot = slot;
    return Result::Ok;
}

ZunSimFlash::Result ZunSimFlash::remove(quint8 kind, quint8 slot)
{
    for (Entry& e : m_entries) {
        if (e.kind == kind && e.slot == slot && slot != deletedSlot()) {
            e.slot = deletedSlot();
            return Result::Ok;
        }
    }
    return Result::NoSuchEntry;
}

void ZunSimFlash::eraseAll()
{
    m_entries.clear();
}

QByteArray ZunSimFlash::directory() const
{
    if (m_entryLayout) {
        QByteArray b(m_entries.size() * 10, '\0');
        for (int n = 0; n < m_entries.size(); ++n) {
            const Entry& e = m_entries[n];
            putU32(b, 10 * n, e.position);
            putU32(b, 10 * n + 4, e.id);
            b[10 * n + 8] = char(e.kind);
            b[10 * n + 9] = char(e.slot);
        }
        return b;
    }
    const int lists = 4 * m_sizeOfMemDir;
    QByteArray b(lists, '\0');
    b.append(QByteArray(m_sizeMemLists, char(m_noEntry)));
    b[0] = char(m_entries.size());
    int deleted = 0;
    for (int n = 0; n < m_entries.size(); ++n) {
        const Entry& e = m_entries[n];
        putU32(b, 4 + 8 * n, e.position);
        putU32(b, 8 + 8 * n, e.id);
        if (e.slot == deletedSlot()) {
            if (deleted < m_sizeDelete)
                b[lists + m_startDelete + deleted++] = char(n);
        } else {
            b[lists + listStart(e.kind) + e.slot] = char(n);
        }
    }
    return b;
}
