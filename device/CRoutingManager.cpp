#include "CRoutingManager.h"

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
