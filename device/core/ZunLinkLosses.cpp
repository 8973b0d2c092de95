#include "ZunLinkLosses.h"

ZunLinkLosses::InFlight::InFlight(ZunLinkLosses& losses, quint64 since) : m_losses(losses)
{
    m_losses.m_inFlightTold = false;
    m_losses.m_inFlightSince = qint64(since);
}

ZunLinkLosses::InFlight::~InFlight() { m_losses.m_inFlightSince = None; }

bool ZunLinkLosses::toldAlready()
{
    const qint64 since = m_inFlightSince.load();
    if (since == None)
        return false;
    if (m_losses() > quint64(since))
        return true;
    return m_inFlightTold.exchange(true);
}
