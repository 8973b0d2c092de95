#include "CZunInputPreset.h"

#include "CCmdMap.h"
#include "CZunRoutingPreset.h"

CZunInputPreset::CZunInputPreset() : m_inputNames(QString()) {}

CZunInputPreset::CZunInputPreset(const QSharedPointer<CCmdMap>& map, const QString& entryName)
{
    fill(*map, entryName);
}

CZunInputPreset::CZunInputPreset(const QSharedPointer<CCmdMap>& map, quint16 number)
{
    for (const QString& key : map->getKeysBeginningWith(QStringLiteral("Inf_IR_"))) {
        if (map->getCmdNr(key) == number)
            fill(*map, key);
    }
}

void CZunInputPreset::fill(const CCmdMap& map, const QString& entryName)
{
    *this = CZunInputPreset();
    m_inputNames.clear();

    m_number = map.getCmdNr(entryName);
    const QString textName = CZunRoutingPreset::textNameOf(entryName);
    m_sourceText = map.getStringConst(textName);
    m_name = entryName.mid(entryName.indexOf(QLatin1Char('_')) + 1);
    m_labelText = map.getStringConst(CZunRoutingPreset::descriptionNameOf(textName));

    m_sources = CZunRoutingPreset::readNumbers(m_sourceText, 8, textName);
    for (int n : qAsConst(m_sources)) {
        if (n >= 11 && n <= 18)
            m_usesModule = true;
        m_inputNames << map.getStringConst(QStringLiteral("InfS_Input_%1").arg(n, 2, 10, QLatin1Char('0')));
    }

    if (map.contains(QStringLiteral("Inf_KPSourceInfoM_IR_11"))) {
        // "Inf_IR_41" -> "41"
        const QString id = entryName.mid(entryName.indexOf(QLatin1Char('_'), entryName.indexOf(QLatin1Char('_')) + 1) + 1);
        for (char letter = 'M'; letter <= 'T'; ++letter) {
            const QString kp = QStringLiteral("Inf_KPSourceInfo%1_IR_%2").arg(QLatin1Char(letter)).arg(id);
            m_keypadInfo << (map.getCmdNr(kp) >> 8);
        }
    }
}

int CZunInputPreset::GetSourceOfSlot(int slot) const
{
    if (slot < 0 || slot >= m_sources.size() || slot == 8)
        return NoSource;
    return m_sources.at(slot);
}

int CZunInputPreset::GetKeypadInfoOfSlot(int slot) const
{
    if (slot < 0 || slot >= m_keypadInfo.size() || slot == 8)
        return NoPath;
    return m_keypadInfo.at(slot);
}
