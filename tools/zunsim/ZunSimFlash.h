#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The emulated processor's 2 MiB flash: setups, FIR/limiter sets and DSP programs, each
// stored as one entry under a list kind and a list slot, and the firmware area.
//
// Entries are written one behind the other, as a processor writes its flash: an entry is
// never moved, a deleted or replaced entry stays where it is (slot "deleted") and keeps
// occupying its bytes and its directory entry until the flash is erased. The directory is
// encoded in the layout of the firmware: the list layout below 1077, the entry layout from
// 1077 (docs/protocol.md, "Flash and maintenance operations").
class ZunSimFlash
{
public:
    static constexpr quint32 FlashSize = 0x200000;
    // The first 128 KiB hold the firmware; entries start behind it.
    static constexpr quint32 FirmwareAreaSize = 0x20000;
    // Entries start on a page boundary.
    static constexpr quint32 PageSize = 256;

    enum class Result { Ok, NoSuchEntry, BadSlot, Full, NoSpace };

    struct Entry
    {
        quint32 position = 0;
        quint32 id = 0;
        quint8 kind = 0;
        quint8 slot = 0;     // deletedSlot() once deleted
        QByteArray data;
    };

    // Layout constants are taken from the command tables of the firmware.
    explicit ZunSimFlash(quint16 firmware);

    bool entryLayout() const { return m_entryLayout; }
    quint8 appendSlot() const { return m_append; }
    quint8 deletedSlot() const { return m_append; }   // the same marker: 254
    quint8 noSlot() const { return m_noEntry; }
    quint8 setupKind() const { return m_kindSetup; }

    // Stores data under kind and slot (appendSlot() = the first free slot of the list).
    // An entry already in that slot is marked deleted. *usedSlot receives the slot.
    Result store(quint8 kind, quint8 slot, quint32 id, const QByteArray& data, quint8* usedSlot = nullptr);
    Result remove(quint8 kind, quint8 slot);
    const Entry* find(quint8 kind, quint8 slot) const;
    // The live entry of that kind whose id (DSP programs: the upper 16 bits) matches.
    const Entry* findId(quint8 kind, quint32 id, bool upperHalf) const;
    const QList<Entry>& entries() const { return m_entries; }
    // Number of slots of a list kind; 0 for a kind the directory has no list for.
    int listSize(quint8 kind) const;
    int maxEntries() const;
    // First byte behind the last entry.
    quint32 endOfEntries() const;

    // Erases the whole flash (entries and firmware).
    void eraseAll();

    // The directory block in the firmware's layout.
    QByteArray directory() const;

private:
    int listStart(quint8 kind) const;

    bool m_entryLayout;
    quint8 m_append = 254;
    quint8 m_noEntry = 255;
    quint8 m_kindSetup = 1, m_kindFilter = 2, m_kindProg = 3;
    // list layout
    int m_sizeOfMemDir = 101, m_sizeMemLists = 190;
    int m_startSetup = 0, m_sizeSetup = 30, m_startFilter = 30, m_sizeFilter = 50;
    int m_startProg = 80, m_sizeProg = 10, m_startDelete = 110, m_sizeDelete = 80;
    // entry layout
    int m_mdlMax = 219, m_flagList = 100;
    QList<Entry> m_entries;
};
