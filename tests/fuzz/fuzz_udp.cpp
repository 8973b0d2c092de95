// Announce, status and every other datagram on the discovery port: the discovery
// object's own parser, the datagram decoders and the status record of two layouts.
#include "AudioIOStatus.h"
#include "CCmdMap.h"
#include "CZunNetwork.h"
#include "FuzzSupport.h"
#include "ZunUdpDatagram.h"

#include <QHostAddress>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    const QByteArray d = ZunFuzz::bytes(data, size);

    // Never started: only the parser runs, in this thread.
    CZunNetwork net;
    net.handleDatagram(d, QHostAddress(QStringLiteral("127.0.0.2")));
    net.handleDatagram(d, QHostAddress(QStringLiteral("127.0.0.2"))); // known now, if it announced
    for (const auto& dev : net.getDeviceList())
        ZUN_FUZZ_CHECK(dev->getName().size() <= ZunUdpDatagram::NameSize);

    ZunUdpDatagram::Announce a;
    if (ZunUdpDatagram::decodeAnnounce(d, &a)) {
        ZunUdpDatagram::Announce again;
        ZUN_FUZZ_CHECK(ZunUdpDatagram::decodeAnnounce(ZunUdpDatagram::encodeAnnounce(a), &again));
        ZUN_FUZZ_CHECK(again.versionWord == a.versionWord && again.status == a.status);
    }
    quint16 interval = 0, count = 0;
    ZunUdpDatagram::decodeStatusRequest(d, &interval, &count);

    for (quint16 version : {quint16(1075), quint16(1080)}) {
        auto map = QSharedPointer<CCmdMap>::create();
        map->setVersion(version);
        AudioIOStatus status(map);
        status.SetRouting(quint16(size > 1 ? data[0] | data[1] << 8 : 0));
        if (status.refresh(d)) {
            for (int o = 0; o < 8; ++o) {
                const double level = status.GetOutputLevel(o);
                ZUN_FUZZ_CHECK(level <= 0.0 && level >= -100.0);
                status.IsPeakLimiting(o);
                status.IsThermalLimiting(o);
                status.IsOutputMuted(o);
            }
            for (int s = 0; s < 27; ++s) {
                status.GetInputLevel(s);
                status.IsOverload(s);
                status.IsInputMuted(s);
            }
            status.IsMasterMuted();
            status.IsDigitalInputLocked();
        }
    }
    return 0;
}
