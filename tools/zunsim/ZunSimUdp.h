#pragma once

#include <QHostAddress>
#include <QObject>

class ZunSimDevice;

// The emulated processor's UDP side (port 1234): discovery ping and announce, status
// stream, single UDP commands.
class ZunSimUdp : public QObject
{
    Q_OBJECT
public:
    ZunSimUdp(ZunSimDevice* device, quint16 port, QObject* parent = nullptr);
    // Binds the UDP port on the given address; false (with a message on stderr) on failure.
    bool start(const QHostAddress& bindAddress);

private:
    ZunSimDevice* m_device;
    quint16 m_port;
};
