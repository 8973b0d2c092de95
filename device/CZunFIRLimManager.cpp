#include "CZunFIRLimManager.h"

CZunFIRLimManager::CZunFIRLimManager(CZun* zun) : m_zun(zun) {}

void CZunFIRLimManager::initialize() {}
void CZunFIRLimManager::on_ZunStatusChanged() {}
void CZunFIRLimManager::on_FIRFilterRemoved(unsigned int) {}
void CZunFIRLimManager::UpdateFirModel(QMap<quint32, QStringList>) {}
