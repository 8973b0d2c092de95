// A parameter image read back from a processor, applied to a device object with the
// rebuild it causes (ranges, routing, EQ slots, flash size): whatever its words say, the
// device stays whole and answers its getters.
#include "CRoutingManager.h"
#include "CZunImageDefaults.h"
#include "FuzzDevice.h"

#include <cstring>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CZun* zun = ZunFuzz::device();
    // The input overwrites a fresh processor's image from its start: every input is an
    // image of the right size, and the seeds are whole images.
    static const QByteArray fresh = CZunImageDefaults::defaultImageBytes(1080);
    QByteArray image = fresh;
    std::memcpy(image.data(), data, qMin(size, size_t(image.size())));
    bool rebuilt = false;
    const QMetaObject::Connection c =
        QObject::connect(zun, &CZun::signal_ZunStatusChanged, [&rebuilt]() { rebuilt = true; });
    ZUN_FUZZ_CHECK(zun->GetStatusBuffer()->setImage(image));
    ZunFuzz::runUntil([&rebuilt]() { return rebuilt; });
    QObject::disconnect(c);
    ZUN_FUZZ_CHECK(rebuilt);
    try {
        zun->GetMasterGain(1);
        zun->GetChannelGain(ZunC::Output1);
        zun->GetActiveFilterIndex(1);
        zun->GetSampleRate();
        zun->GetRoutingManager()->GetInputs();
    } catch (const std::exception&) {
    }
    ZunFuzz::settle(zun);
    return 0;
}
