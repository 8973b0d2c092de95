#include "CZunSetupManager.h"

CZunSetupManager::CZunSetupManager(CZun* zun) : m_zun(zun) {}

void CZunSetupManager::initialize() {}
void CZunSetupManager::on_SetupRemoved(int) {}
