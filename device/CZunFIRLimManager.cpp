#include "CZunFIRLimManager.h"

CZunFIRLimManager::CZunFIRLimManager(CZun* zun) : m_zun(zun) {}

void CZunFIRLimManager::initialize() {}
void CZunFIRLimManager::on_ZunStatusChanged() {}
void CZunFIRLimManager::on_FIRFilterRemoved(unsigned int) {}
void CZunFIRLimManager::UpdateFirModel(QMap<quint32, QStringList>) {}

// The list of stored sets comes with the FIR/limiter work; until then no set is listed.
QShPtrFLE CZunFIRLimManager::GetFIRFilter(uint) const { return QShPtrFLE(); }
