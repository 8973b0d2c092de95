#include "ZunKeepAliveRest.h"

#include "CZun.h"

ZunKeepAliveRest::ZunKeepAliveRest(CZun* device) : m_device(device)
{
    if (m_device)
        m_device->EnableTcpCheck(false);
}

ZunKeepAliveRest::~ZunKeepAliveRest()
{
    if (m_device)
        m_device->EnableTcpCheck(true);
}
