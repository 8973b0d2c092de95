// A parameter image (3,400, 3,396 or 3,394 bytes, or anything else) as a setup reads it.
#include "FuzzSupport.h"
#include "ZunSetup.h"

#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    ZunSetup setup;
    try {
        setup.fromByteArray(ZunFuzz::bytes(data, size));
    } catch (const std::exception&) {
        return 0; // refused with a text: fine
    }
    setup.GetActiveFilterIndex(1);
    setup.GetActiveFilterIndex(2);
    setup.GetDSPProgID(1);
    setup.makeFileName(3);
    return 0;
}
