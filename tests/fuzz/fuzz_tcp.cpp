// The byte stream of the TCP control link: frames in any cut, with a parameter read, a
// block read or a block write waiting for them (or nothing at all).
#include "CZunMetaCmd.h"
#include "FuzzSupport.h"
#include "ZunCmdBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    if (size < 2)
        return 0;
    ZunCmdBuffer buffer;
    int finished = 0;
    QObject::connect(&buffer, &ZunCmdBuffer::cmdProcessed, [&finished](const CZunCmd&) { ++finished; });
    switch (data[0] % 4) {
    case 1: buffer.append(CZunMetaCmd(0xFF0B, 3)); break;                         // parameter read
    case 2: buffer.append(CZunMetaCmd(0xFF04, 7)); break;                         // block read
    case 3: buffer.append(CZunMetaCmd(0xFF00, 5000, QByteArray(5000, 'x'))); break; // block write
    default: break;
    }
    const size_t chunk = size_t(data[1]) + 1;
    for (size_t at = 2; at < size; at += chunk)
        buffer.receive(ZunFuzz::bytes(data + at, std::min(chunk, size - at)));
    buffer.reset();
    buffer.abandonAll();
    ZUN_FUZZ_CHECK(buffer.isIdle());
    return 0;
}
