#include "ZunDSPProgramManager.h"

ZunDSPProgramManager::ZunDSPProgramManager(CZun* zun) : m_zun(zun) {}

void ZunDSPProgramManager::initialize() {}
