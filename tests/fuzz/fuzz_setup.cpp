// Setup archives (".zun": a zip with the image and up to two FIR/limiter sets) and the
// older raw image files, read without a device.
#include "FuzzSupport.h"
#include "ZunSetup.h"

#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    const QString path = ZunFuzz::scratch("Set01_fuzz.zun");
    ZunFuzz::writeFile(path, ZunFuzz::bytes(data, size));
    try {
        ZunSetup setup(nullptr, path);
        setup.GetActiveFilterIndex(1);
        setup.makeFileName(1);
    } catch (const std::exception&) {
    }
    return 0;
}
