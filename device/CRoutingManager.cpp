#include "CRoutingManager.h"

#include <stdexcept>

CRoutingManager::CRoutingManager(CZun* zun) : m_zun(zun) {}

void CRoutingManager::rebuild(quint16 routingWord)
{
    m_routingWord = routingWord;
}

void CRoutingManager::BlockRecalculation(bool block)
{
    m_blocked = block;
}

void CRoutingManager::updateFrequencyResponse() {}

quint16 CRoutingManager::GetRoutingPresetNumbers(quint16, QSharedPointer<CCmdMap>)
{
    throw std::logic_error("CRoutingManager::GetRoutingPresetNumbers(): not available yet");
}
