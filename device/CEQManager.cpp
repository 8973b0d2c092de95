#include "CEQManager.h"

CEQManager::CEQManager(CZun* zun) : m_zun(zun) {}

void CEQManager::Rebuild() {}
