// The kernel's neighbour table (the text of /proc/net/arp) as the network scan reads it:
// every entry taken has an IPv4 address and a MAC address.
#include "FuzzSupport.h"
#include "ZunIcmpSweep.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    for (const ZunIcmpSweep::Neighbour& n : ZunIcmpSweep::parseArpTable(ZunFuzz::bytes(data, size)))
        ZUN_FUZZ_CHECK(n.ip.protocol() == QAbstractSocket::IPv4Protocol);
    return 0;
}
