#include "CZunRoutingPreset.h"

#include "CCmdMap.h"

CZunRoutingPreset::CZunRoutingPreset() : m_nodeNames(QString()) {}

CZunRoutingPreset::CZunRoutingPreset(const QSharedPointer<CCmdMap>& map, const QString& entryName)
{
    fill(*map, entryName);
}

CZunRoutingPreset::CZunRoutingPreset(const QSharedPointer<CCmdMap>& map, quint16 number)
{
    for (const QString& key : map->getKeysBeginningWith(QStringLiteral("Inf_RP_"))) {
        if (map->getCmdNr(key) == number)
            fill(*map, key);
    }
}

void CZunRoutingPreset::fill(const CCmdMap& map, const QString& entryName)
{
    // Starts afresh, so a second matching entry replaces the first instead of doubling
    // the slot list.
    *this = CZunRoutingPreset();
    m_nodeNames.clear();

    m_number = map.getCmdNr(entryName);
    const QString textName = textNameOf(entryName);
    m_slotText = map.getStringConst(textName);
    m_name = entryName.mid(entryName.indexOf(QLatin1Char('_')) + 1);
    m_description = map.getStringConst(descriptionNameOf(textName));
    m_slots = readNumbers(m_slotText, 10, textName);
    for (int n : qAsConst(m_slots))
        m_nodeNames << QStringLiteral("Node %1").arg(n);
}

int CZunRoutingPreset::GetSlotOfOutput(int output) const
{
    if (output < 0 || output >= m_slots.size())
        return 8;
    return m_slots.at(output);
}

bool CZunRoutingPreset::UsesSlot(int slot) const
{
    for (int s : m_slots) {
        if (static_cast<quint16>(s) == static_cast<quint16>(slot))
            return true;
    }
    return false;
}

QString CZunRoutingPreset::textNameOf(const QString& entryName)
{
    QString t = entryName;
    const int i = t.indexOf(QLatin1Char('_'));
    return i < 0 ? t + QLatin1Char('S') : t.insert(i, QLatin1Char('S'));
}

QString CZunRoutingPreset::descriptionNameOf(const QString& textName)
{
    QString t = textName;
    const int i = t.lastIndexOf(QLatin1Char('_'));
    return i < 0 ? t + QStringLiteral("_T") : t.insert(i, QStringLiteral("_T"));
}

QList<int> CZunRoutingPreset::readNumbers(const QString& text, int count, const QString& textName)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QList<int> numbers;
    bool ok = parts.size() >= count;
    for (int i = 0; ok && i < count; ++i)
        numbers << parts.at(i).toInt(&ok);
    if (!ok) {
        throw CCmdMap::invalid_cmd(QStringLiteral("\"%1\" does not hold %2 numbers: \"%3\"")
                                       .arg(textName)
                                       .arg(count)
                                       .arg(text)
                                       .toStdString(),
                                   false);
    }
    return numbers;
}
