// The flash directory in both layouts (list layout before firmware 1077, entries from
// 1077 on). Only counted entries may be listed.
#include "CCmdMap.h"
#include "CMemoryManager.h"
#include "FuzzSupport.h"

#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    if (size < 1)
        return 0;
    const quint16 version = data[0] & 1 ? 1080 : 1075;
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(version);
    CMemoryManager mm;
    mm.initConstants(map, version);
    try {
        mm.SetMemDir(ZunFuzz::bytes(data + 1, size - 1));
    } catch (const std::exception&) {
        return 0;
    }
    if (!mm.isValid())
        return 0;
    // Every listed id is one of the counted entries.
    QList<quint32> counted;
    for (quint32 n = 0; n < mm.entryCount(); ++n) {
        try {
            counted << mm.GetIndexAtFATEntry(quint16(n));
        } catch (const std::exception&) {
        }
    }
    auto check = [&](quint32 id) { ZUN_FUZZ_CHECK(id == 0 || counted.contains(id)); };
    for (int i = 0; i < mm.setupListSize(); ++i)
        check(mm.setupIdAt(i));
    for (int i = 0; i < 64; ++i)
        check(mm.filterIdAt(i));
    mm.deletedCount();
    return 0;
}
