#include "ZunSimUdp.h"

ZunSimUdp::ZunSimUdp(ZunSimDevice* device, quint16 port, QObject* parent)
    : QObject(parent), m_device(device), m_port(port)
{
}

bool ZunSimUdp::start(const QHostAddress&)
{
    return true; // provisional
}
