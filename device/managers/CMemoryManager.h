#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QReadWriteLock>
#include <QSharedPointer>

#include <atomic>

class CCmdMap;
class CZun;

// The processor's flash directory: which setups, FIR/limiter sets and DSP programs are
// stored in its flash, under which 32-bit id, in which list slot, and how much flash is
// left behind the last entry.
//
// The manager never talks to the processor. The device object asks for the directory,
// the reply dispatcher hands the received block to SetMemDir (queued), and the
// FIR/limiter, setup and DSP-program managers read the lists from their worker threads.
//
// Two directory layouts exist, chosen by the firmware version:
//  - list layout (below 1077): a count byte, 8-byte entries (position, id) and a list
//    area with one byte per list slot that names an entry;
//  - entry layout (1077 on): a run of 10-byte entries (position, id, type, slot).
// Every size, start and marker comes from the command map by name.
//
// Threads: SetMemDir runs in the manager's own (GUI) thread. It parses into local lists
// and swaps them in under a write lock, so a reader in another thread sees either the
// old or the new directory, never a half-built one. The pending-transfer counter has a
// mutex of its own.
class CMemoryManager : public QObject
{
    Q_OBJECT
public:
    // Flash that must be left behind the last entry before the user is warned.
    static constexpr quint32 LowMemoryThreshold = 49152;
    // First firmware whose directory uses the entry layout.
    static constexpr quint16 EntryLayoutFirmware = 1077;
    // Size of one entry of the entry layout, in bytes.
    static constexpr int EntrySize = 10;

    CMemoryManager();
    ~CMemoryManager() override = default;

    // Reads the layout constants of the firmware version from the map. The device
    // object's form initConstants(CZun*) forwards here with its command map and its
    // firmware version; it is called at construction and again when the processor
    // comes back with another firmware. A name missing from the map throws
    // CCmdMap::invalid_cmd and leaves the previous constants in place.
    void initConstants(QSharedPointer<CCmdMap> map, quint16 firmwareVersion);
    void initConstants(CZun* device);

    // The id / flash position of entry nr of the last directory; 0 for ID_ListNoEntry.
    // An entry the directory does not hold throws std::logic_error.
    quint32 GetIndexAtFATEntry(quint16 nr) const;
    quint32 GetMemPosAtFATEntry(quint16 nr) const;

    // Flash uploads started and not yet completed. decTransfers emits
    // signal_RequestRefresh() (outside the mutex) when the count reaches 0.
    void incTransfers();
    void decTransfers();
    quint16 pendingTransfers() const;

    // Capacity rule. Free entries = directory bound - pending transfers - entries, signed;
    // the bound is 50 entries in the list layout ((ID_SizeOfMemDir - 1) >> 1) and
    // ID_MDL_Entries_Max in the entry layout. An upload needs at least 3 free entries,
    // storing the current parameters as a setup at least 2.
    int freeEntries() const;
    bool canUpload() const { return freeEntries() > 2; }
    bool canStoreSetup() const { return freeEntries() > 1; }

    // Number of entries of the last directory (deleted and unlisted ones included).
    quint32 entryCount() const;
    bool isValid() const;
    // The last directory left less than LowMemoryThreshold bytes behind its last entry.
    bool isLow() const;

    quint32 flashSize() const;
    void setFlashSize(quint32 bytes);

    // List sizes of the current layout (ID_Size... below 1077, ID_SizeOfFlagListMDL on).
    quint16 setupListSize() const;
    quint16 filterListSize() const;
    quint16 dspProgramListSize() const;

    quint16 deletedCount() const;
    quint16 filterCount() const;
    quint16 setupCount() const;
    quint16 dspProgramCount() const;

    // Ids by list position: 0 for an empty slot or a position outside the list.
    quint32 setupIdAt(int position) const;
    quint32 filterIdAt(int position) const;
    quint16 dspProgramIdAt(int position) const;
    // The flash a DSP program's entry spans: from its position to the next entry's; 0 when
    // no entry follows it (how long it is can not be told).
    quint32 dspProgramSpanAt(int position) const;
    bool hasFilterId(quint32 id) const;
    // The stores answered before the directory now held was read: a store counted by then
    // is listed in it, or it was not stored.
    quint64 storesAnsweredBefore() const;
    bool hasDSPProgramId(quint16 id) const;
    // First filter-list position holding id; -1 when absent.
    int GetFilterListPos(quint32 id) const;

    // One entry of the directory: its flash position (never reused before an erase), its
    // id, its list kind ("ID_List_..."; 0 for a deleted or unlisted entry) and list slot.
    struct Entry
    {
        quint32 position = 0;
        quint32 id = 0;
        quint16 kind = 0;
        int slot = -1;
    };
    // Every entry of the last directory, in flash order.
    QList<Entry> entries() const;

public slots:
    // Parses a received directory block. A block of the wrong size is refused with a
    // warning and changes nothing; an entry of unknown type or a list byte naming an
    // entry the block does not hold throws std::logic_error and also changes nothing.
    // storesAnswered: how many stores into the flash the processor had answered on the
    // link before this directory was read (the reply dispatcher counts them).
    void SetMemDir(QByteArray directory, quint64 storesAnswered = 0);

signals:
    // The pending-transfer count fell to 0: the directory should be read again.
    void signal_RequestRefresh();
    // A directory block was parsed and replaced the lists.
    void signal_MemDirChanged();
    // Less than LowMemoryThreshold bytes of flash are left behind the last entry.
    void signal_LowMemory();

private:
    struct Constants
    {
        bool initialised = false;
        bool entryLayout = false;
        quint16 listNoEntry = 255;
        quint16 listAppend = 254;
        // list layout
        quint16 sizeOfMemDir = 0;
        quint16 sizeMemLists = 0;
        quint16 maxDataBlocks = 219;
        quint16 sizeListFilter = 0;
        quint16 startListFilter = 0;
        quint16 sizeListSetup = 0;
        quint16 startListSetup = 0;
        quint16 sizeListDSPProg = 0;
        quint16 startListDSPProg = 0;
        quint16 sizeListSetupEQ = 0;
        quint16 startListSetupEQ = 0;
        quint16 sizeListDelete = 0;
        quint16 startListDelete = 0;
        // entry layout; an entry's type is its list kind
        quint16 typeSetup = 1;
        quint16 typeFilter = 2;
        quint16 typeDSPProg = 3;
        quint16 mdlEntriesMax = 0;
        quint32 mdlSize = 0;
        quint16 sizeOfFlagListMDL = 0;
    };

    struct Directory
    {
        QByteArray raw;
        quint32 entryCount = 0;
        QList<quint32> filterIds;
        QList<quint32> setupIds;
        QList<quint16> dspProgramIds;
        QList<quint32> dspProgramSpans;
        quint16 deleted = 0;
        quint16 filters = 0;
        quint16 setups = 0;
        quint16 dspPrograms = 0;
    };

    // Offset of the list area (behind the entries) in the list layout.
    static int listAreaOffset(const Constants& c) { return 4 * c.sizeOfMemDir; }
    // Entries the list layout has room for.
    static int listLayoutCapacity(const Constants& c) { return (listAreaOffset(c) - 4) / 8; }
    static int entryBound(const Constants& c);
    // Empty when the block fits the layout, else why it does not.
    static QString checkBlock(const Constants& c, const QByteArray& block);
    // Field of entry nr (0 = position, 1 = id) in a directory block.
    static quint32 entryField(const Constants& c, const QByteArray& raw, quint32 entries,
                              quint16 nr, int field, const char* caller);
    static Directory parseEntryLayout(const Constants& c, const QByteArray& block);
    static Directory parseListLayout(const Constants& c, const QByteArray& block);
    // The span of the entry at a flash position among the entries' positions (see
    // dspProgramSpanAt).
    static quint32 spanFrom(quint32 position, const QList<quint32>& positions);

    mutable QReadWriteLock m_lock; // guards everything below except the counter
    Constants m_const;
    Directory m_dir;
    quint32 m_flashSize = 0x200000;
    bool m_valid = false;
    bool m_low = false;

    mutable QMutex m_transferMutex;
    quint16 m_pendingTransfers = 0;
    std::atomic<quint64> m_storesAnswered{0};
};
