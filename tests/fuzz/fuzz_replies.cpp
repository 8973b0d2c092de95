// The replies a processor gives before and beside its image: the version probe's reply
// (from a processor on loopback that sends the input and closes) and the hardware
// information reply applied to a device. Selector byte: even = version probe, odd =
// hardware reply.
#include "FuzzDevice.h"
#include "ZunVersionProbe.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <stdexcept>

namespace {

// A processor that answers every connection with the bytes of the current input.
class ReplyServer : public QTcpServer
{
public:
    QByteArray reply;

    ReplyServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket* s = nextPendingConnection()) {
                s->write(reply);
                s->disconnectFromHost();
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
};

void versionProbe(const QByteArray& reply)
{
    static ReplyServer* server = nullptr;
    if (!server)
        server = new ReplyServer;
    server->reply = reply;
    auto* probe = new ZunVersionProbe(QHostAddress::LocalHost, server->serverPort());
    bool done = false, ok = false;
    quint16 word = 0;
    QObject::connect(probe, &ZunVersionProbe::finished, [&](bool good, quint16 w, QString) {
        done = true;
        ok = good;
        word = w;
    });
    probe->start();
    ZunFuzz::runUntil([&done]() { return done; });
    ZUN_FUZZ_CHECK(done);
    // A reply of six bytes or more is a version word; a shorter one is none.
    ZUN_FUZZ_CHECK(!ok || reply.size() >= 6);
    if (ok)
        ZUN_FUZZ_CHECK(word == quint16(quint8(reply[4]) | quint8(reply[5]) << 8));
    // The probe deletes itself.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void hardwareReply(const QByteArray& payload)
{
    CZun* zun = ZunFuzz::device();
    CZunStatusBuffer* image = zun->GetStatusBuffer();
    CZunCmd cmd(zun->GetCmdMap()->getCmdNr("ID_TX_Hardware"), 0);
    cmd.setReply(payload);
    cmd.setDone();
    // As the link hands it over: the dispatcher (in this thread, see ZunFuzz::device()),
    // then the device's queued hardware update and the rebuild that follows it.
    image->cmdCallback(cmd);
    QCoreApplication::sendPostedEvents();
    try {
        zun->GetHardwareInfo().analogOutputCount();
    } catch (const std::exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    if (size < 1)
        return 0;
    const QByteArray rest = ZunFuzz::bytes(data + 1, size - 1);
    if (data[0] & 1)
        hardwareReply(rest);
    else
        versionProbe(rest);
    return 0;
}
