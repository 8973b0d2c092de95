// The network scan's ICMP replies, with their IPv4 header in front (a raw socket hands over
// every ICMP message of the host) or without (an ICMP datagram socket).
//
// Input: a byte whose low bit says whether the header is in front, then the datagram.
#include "FuzzSupport.h"
#include "ZunIcmpSweep.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // Exactly the datagram's bytes on the heap: a read past them is a finding.
    const std::vector<char> datagram(data + 1, data + size);
    const bool withIpHeader = data[0] & 1;
    if (ZunIcmpSweep::isEchoReply(datagram.data(), int(datagram.size()), withIpHeader, 0x1234))
        ZUN_FUZZ_CHECK(datagram.size() >= (withIpHeader ? 28u : 8u));
    ZunIcmpSweep::checksum(ZunFuzz::bytes(data, size));
    return 0;
}
