// The EQ-list file of the gain page's Import, read from a file and applied to an output
// channel as the page applies it: nothing outside the channel's slots or ranges.
#include "CRoutingManager.h"
#include "CZunOutput.h"
#include "FuzzDevice.h"
#include "ZunChannelMimeData.h"

#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CZun* zun = ZunFuzz::device();
    const QString path = ZunFuzz::scratch("list.csv");
    ZunFuzz::writeFile(path, ZunFuzz::bytes(data, size));
    try {
        const ZunChannelMimeData list(path);
        const QList<QPointer<CZunOutput>> outputs = zun->GetRoutingManager()->GetOutputs();
        if (!outputs.isEmpty() && outputs.first() && outputs.first()->canApplyMimeData(&list))
            outputs.first()->applyMimeData(&list);
    } catch (const std::exception&) {
    }
    ZunFuzz::settle(zun);
    return 0;
}
