#include "CCmdMap.h"
#include "CMemoryManager.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include <memory>
#include <stdexcept>

namespace {

QSharedPointer<CCmdMap> mapFor(quint16 version)
{
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(version);
    return map;
}

std::unique_ptr<CMemoryManager> managerFor(quint16 version)
{
    auto mm = std::make_unique<CMemoryManager>();
    mm->initConstants(mapFor(version), version);
    return mm;
}

int nr(const char* name) { return mapFor(1075)->getCmdNr(name); }

void putU32(QByteArray& b, int at, quint32 v) { qToLittleEndian<quint32>(v, reinterpret_cast<uchar*>(b.data()) + at); }

// A list-layout directory from the table constants, every list slot empty.
struct ListDir
{
    const int lists = 4 * nr("ID_SizeOfMemDir");
    const int capacity = (lists - 4) / 8;
    QByteArray bytes = QByteArray(lists, '\0') + QByteArray(nr("ID_SizeMemLists"), char(nr("ID_ListNoEntry")));

    ListDir& entry(int n, quint32 position, quint32 id)
    {
        putU32(bytes, 4 + 8 * n, position);
        putU32(bytes, 8 + 8 * n, id);
        bytes[0] = char(qMax(int(quint8(bytes[0])), n + 1));
        return *this;
    }
    ListDir& slot(const char* list, int i, int entryNr)
    {
        bytes[lists + nr(list) + i] = char(entryNr);
        return *this;
    }
};

QByteArray entry(quint32 position, quint32 id, quint8 type, quint8 slot)
{
    QByteArray b(CMemoryManager::EntrySize, '\0');
    putU32(b, 0, position);
    putU32(b, 4, id);
    b[8] = char(type);
    b[9] = char(slot);
    return b;
}

QByteArray entries(int count)
{
    QByteArray b;
    for (int i = 0; i < count; ++i)
        b += entry(0x1000u * i, 0x100u + i, 2, 255);
    return b;
}

template <typename F> QString errorOf(F call)
{
    try {
        call();
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return "no exception";
}

QList<int> counts(const CMemoryManager& m)
{
    return {m.setupCount(), m.filterCount(), m.dspProgramCount(), m.deletedCount()};
}

const QString idLimits = "CMemoryManager::GetIndexAtFATEntry(): nr is out of FAT limits.";
const QString posLimits = "CMemoryManager::GetMemPosAtFATEntry(): nr is out of FAT limits.";

} // namespace

class TestMemoryManager : public QObject
{
    Q_OBJECT
private slots:
    void listLayout()
    {
        auto mm = managerFor(1075);
        QSignalSpy changed(mm.get(), &CMemoryManager::signal_MemDirChanged);
        QSignalSpy low(mm.get(), &CMemoryManager::signal_LowMemory);
        ListDir d;
        d.entry(0, 0x1000, 0x11111111).entry(1, 0x2000, 0x22222222).entry(2, 0x3000, 0xABCD0001);
        d.slot("ID_StartListSetup", 3, 0).slot("ID_StartListFilter", 7, 1).slot("ID_StartListFilter", 9, 1);
        d.slot("ID_StartListDSPProg", 2, 2).slot("ID_StartListDelete", 0, 5).slot("ID_StartListDelete", 4, 6);
        mm->SetMemDir(d.bytes);

        QCOMPARE(changed.count(), 1);
        QCOMPARE(low.count(), 0);
        QVERIFY(mm->isValid());
        QCOMPARE(mm->entryCount(), 3u);
        QCOMPARE(mm->setupIdAt(3), 0x11111111u);
        QCOMPARE(mm->setupIdAt(0), 0u); // slot byte ID_ListNoEntry
        QCOMPARE(mm->setupIdAt(-1) + mm->setupIdAt(mm->setupListSize()), 0u);
        QCOMPARE(mm->GetFilterListPos(0x22222222), 7);
        QCOMPARE(mm->dspProgramIdAt(2), quint16(0xABCD));
        QVERIFY(mm->hasDSPProgramId(0xABCD) && !mm->hasDSPProgramId(0) && !mm->hasFilterId(0));
        QCOMPARE(counts(*mm), QList<int>({1, 2, 1, 2}));
    }

    void entryLayout()
    {
        auto mm = managerFor(1080);
        QSignalSpy changed(mm.get(), &CMemoryManager::signal_MemDirChanged);
        QSignalSpy low(mm.get(), &CMemoryManager::signal_LowMemory);
        const int listSize = mapFor(1080)->getCmdNr("ID_SizeOfFlagListMDL");
        mm->SetMemDir(QByteArray());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(low.count(), 0);
        QCOMPARE(mm->setupListSize(), quint16(listSize));
        QCOMPARE(mm->GetFilterListPos(0), 0); // a list of zeros, not an empty list

        const quint8 deleted = quint8(nr("ID_ListAppend")), none = quint8(nr("ID_ListNoEntry"));
        mm->SetMemDir(entry(0x1000, 0x5, 1, deleted) + entry(0x2000, 0x6, 9, deleted) // type not looked at
                      + entry(0x3000, 0x7, 2, none) + entry(0x4000, 0x12345678, 3, 5)
                      + entry(0x5000, 0x9, 2, quint8(listSize)) // beyond the list
                      + entry(0x6000, 0xA, 1, quint8(listSize - 1)) + entry(0x7000, 0xB, 2, 0)
                      + entry(0x8000, 0xB, 2, 4));
        QCOMPARE(mm->entryCount(), 8u);
        QCOMPARE(mm->dspProgramIdAt(5), quint16(0x1234));
        QCOMPARE(mm->setupIdAt(listSize - 1), 0xAu);
        QCOMPARE(counts(*mm), QList<int>({1, 2, 1, 2}));
        QVERIFY(!mm->hasFilterId(0x7) && !mm->hasFilterId(0x9));
        QCOMPARE(mm->GetFilterListPos(0xB), 0);
        QCOMPARE(mm->GetMemPosAtFATEntry(7), 0x8000u);
    }

    void badBlocksChangeNothing()
    {
        CMemoryManager fresh;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("directory block refused: no layout constants"));
        fresh.SetMemDir(QByteArray(20, '\0'));
        QVERIFY(!fresh.isValid());

        const int maxEntries = mapFor(1080)->getCmdNr("ID_MDL_Entries_Max");
        auto mdl = managerFor(1080);
        mdl->SetMemDir(entry(0, 0x42, 2, 1));
        auto old = managerFor(1075);
        old->SetMemDir(ListDir().entry(0, 0, 0x42).slot("ID_StartListFilter", 1, 0).bytes);

        ListDir shortDir, countTooHigh;
        shortDir.bytes.chop(1);
        countTooHigh.bytes[0] = char(countTooHigh.capacity + 1);
        const QList<QPair<CMemoryManager*, QByteArray>> refused = {
            {mdl.get(), entry(0, 1, 2, 1) + QByteArray(3, '\0')}, // trailing bytes
            {mdl.get(), entries(maxEntries + 1)},
            {old.get(), shortDir.bytes},
            {old.get(), countTooHigh.bytes},
        };
        for (const auto& b : refused) {
            QSignalSpy changed(b.first, &CMemoryManager::signal_MemDirChanged);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("directory block refused"));
            b.first->SetMemDir(b.second);
            QCOMPARE(changed.count(), 0);
            QCOMPARE(b.first->filterIdAt(1), 0x42u);
            QCOMPARE(b.first->entryCount(), 1u);
        }
        // an unknown entry type and a list byte naming no entry throw and keep the old lists
        QSignalSpy changed(mdl.get(), &CMemoryManager::signal_MemDirChanged);
        QCOMPARE(errorOf([&] { mdl->SetMemDir(entry(0x100, 0x43, 1, 0) + entry(0x1A2B0, 0xDEADBEEF, 7, 3)); }),
                 QString("MemDir Entry: 1a2b0, 3, 7, deadbeef"));
        QCOMPARE(errorOf([&] { old->SetMemDir(ListDir().slot("ID_StartListSetup", 0, 60).bytes); }), idLimits);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(mdl->filterIdAt(1) + old->filterIdAt(1), 0x84u);
        QCOMPARE(mdl->setupIdAt(0), 0u);

        mdl->SetMemDir(entries(maxEntries)); // the maximum itself is accepted
        QCOMPARE(mdl->entryCount(), quint32(maxEntries));
    }

    void entryNumbersBeyondTheDirectory()
    {
        auto mm = managerFor(1075);
        QCOMPARE(errorOf([&] { mm->GetIndexAtFATEntry(0); }), idLimits); // nothing received yet
        ListDir d;
        mm->SetMemDir(d.entry(d.capacity - 1, 0x7000, 0x77).bytes);
        QCOMPARE(mm->GetIndexAtFATEntry(quint16(d.capacity - 1)), 0x77u);
        QCOMPARE(mm->GetIndexAtFATEntry(quint16(nr("ID_ListNoEntry"))), 0u);
        QCOMPARE(errorOf([&] { mm->GetIndexAtFATEntry(quint16(d.capacity)); }), idLimits);
        QCOMPARE(errorOf([&] { mm->GetMemPosAtFATEntry(quint16(d.capacity)); }), posLimits);

        // Only counted entries exist: left-over bytes after the count are no setups.
        ListDir phantom;
        phantom.entry(0, 0x1000, 0x11).entry(1, 0x2000, 0x22).entry(2, 0x3000, 0x33);
        phantom.bytes[0] = 2;
        mm->SetMemDir(phantom.bytes);
        QCOMPARE(mm->GetIndexAtFATEntry(1), 0x22u);
        QCOMPARE(errorOf([&] { mm->GetIndexAtFATEntry(2); }), idLimits);
        phantom.slot("ID_StartListSetup", 0, 2);
        QCOMPARE(errorOf([&] { mm->SetMemDir(phantom.bytes); }), idLimits);
        QCOMPARE(mm->setupCount(), quint16(0));

        auto mdl = managerFor(1078);
        mdl->SetMemDir(entries(3));
        QCOMPARE(mdl->GetIndexAtFATEntry(2), 0x102u);
        QCOMPARE(errorOf([&] { mdl->GetMemPosAtFATEntry(3); }), posLimits);
    }

    void lowMemoryBoundary()
    {
        struct Case { quint32 flash, position; bool low; };
        const Case cases[] = {{0x200000, 0x200000 - 49152, false}, // exactly 48 KiB left
                              {0x200000, 0x200000 - 49151, true},
                              {0x40000, 0x40001, true}}; // beyond the flash end
        for (quint16 version : {1075, 1079}) {
            for (const Case& c : cases) {
                auto mm = managerFor(version);
                mm->setFlashSize(c.flash);
                QSignalSpy spy(mm.get(), &CMemoryManager::signal_LowMemory);
                // an earlier entry far up the flash: only the last one decides
                if (version < CMemoryManager::EntryLayoutFirmware)
                    mm->SetMemDir(ListDir().entry(0, 0x1F0000, 1).entry(1, c.position, 2).bytes);
                else
                    mm->SetMemDir(entry(0x1F0000, 1, 2, 0) + entry(c.position, 2, 2, 1));
                QVERIFY2(spy.count() == (c.low ? 1 : 0), qPrintable(QString::number(c.position, 16)));
            }
        }
    }

    void capacityBoundaries()
    {
        for (quint16 version : {1076, 1080}) {
            auto mm = managerFor(version);
            const bool list = version < CMemoryManager::EntryLayoutFirmware;
            const int bound = list ? 50 : mapFor(1080)->getCmdNr("ID_MDL_Entries_Max");
            QCOMPARE(mm->freeEntries(), bound);
            mm->SetMemDir(list ? ListDir().entry(bound - 5, 0, 1).bytes : entries(bound - 4));
            mm->incTransfers();
            QCOMPARE(mm->freeEntries(), 3);
            QVERIFY(mm->canUpload());
            mm->incTransfers();
            QVERIFY(!mm->canUpload() && mm->canStoreSetup());
            mm->incTransfers();
            QVERIFY(!mm->canStoreSetup());
        }
    }

    void decTransfersSignalsWhenDrained()
    {
        CMemoryManager mm;
        QSignalSpy spy(&mm, &CMemoryManager::signal_RequestRefresh);
        mm.incTransfers();
        mm.incTransfers();
        mm.decTransfers();
        QCOMPARE(spy.count(), 0);
        mm.decTransfers();
        QCOMPARE(spy.count(), 1);
        QTest::ignoreMessage(QtWarningMsg, "CMemoryManager::decTransfers(): no transfer is pending.");
        mm.decTransfers();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(mm.pendingTransfers(), quint16(0));
    }
};

QTEST_GUILESS_MAIN(TestMemoryManager)
#include "tst_memorymanager.moc"
