#include "ZunKeepAliveRest.h"

#include "CZun.h"
#include "ZunOperation.h"

ZunKeepAliveRest::ZunKeepAliveRest(CZun* device)
{
    if (device)
        m_rest = device->RestKeepAlive();
}

ZunKeepAliveRest::~ZunKeepAliveRest()
{
    if (m_rest)
        m_rest->finish(ZunOperation::Outcome::Done);
}
