#include "CRoutingLibrary.h"

#include "CCmdMap.h"

#include <algorithm>

// The map's name sets come in hash order, which changes from run to run; taking the
// names in order and sorting stably makes presets with equal sort keys (several input
// presets share a label text, two full routings a name) keep one order everywhere.
static QStringList sortedKeys(const CCmdMap& map, const QString& prefix)
{
    const QSet<QString> keys = map.getKeysBeginningWith(prefix);
    QStringList list(keys.begin(), keys.end());
    list.sort();
    return list;
}

CRoutingLibrary::CRoutingLibrary(const QSharedPointer<CCmdMap>& map) : m_map(map)
{
    for (const QString& key : sortedKeys(*map, QStringLiteral("Inf_IR_")))
        m_inputPresets << CZunInputPreset(map, key);
    std::stable_sort(m_inputPresets.begin(), m_inputPresets.end(),
                     [](const CZunInputPreset& a, const CZunInputPreset& b) { return a.getLabelText() < b.getLabelText(); });

    for (const QString& key : sortedKeys(*map, QStringLiteral("Inf_RP_")))
        m_routingPresets << CZunRoutingPreset(map, key);
    std::stable_sort(m_routingPresets.begin(), m_routingPresets.end(),
                     [](const CZunRoutingPreset& a, const CZunRoutingPreset& b) {
                         return a.getDescription() < b.getDescription();
                     });

    for (const QString& key : sortedKeys(*map, QStringLiteral("Inf_FR_")))
        m_fullRoutingPresets << CZunFullRoutingPreset(map, key);
    std::stable_sort(m_fullRoutingPresets.begin(), m_fullRoutingPresets.end(),
                     [](const CZunFullRoutingPreset& a, const CZunFullRoutingPreset& b) {
                         return a.getName() < b.getName();
                     });
}

CRoutingLibrary::~CRoutingLibrary() = default;

bool CRoutingLibrary::fits(const CZunInputPreset& input, const CZunRoutingPreset& routing)
{
    return ((input.getNumber() >> 5) & 7) == ((routing.getNumber() >> 4) & 7);
}

QList<CZunInputPreset> CRoutingLibrary::GetInputPresets(const CZunRoutingPreset& routing) const
{
    QList<CZunInputPreset> list = m_inputPresets;
    int front = 0;
    int back = list.size() - 1;
    for (;;) {
        while (front < list.size() && fits(list.at(front), routing))
            ++front;
        while (back >= 0 && !fits(list.at(back), routing))
            --back;
        if (front >= back)
            break;
        list.swapItemsAt(front, back);
        ++front;
        --back;
    }
    return list;
}

CZunRoutingPreset CRoutingLibrary::FindRoutingPreset(quint16 word) const
{
    CZunRoutingPreset found;
    for (const CZunRoutingPreset& p : m_routingPresets) {
        if (p.getNumber() == (word & 0x7F))
            found = p;
    }
    return found;
}

CZunInputPreset CRoutingLibrary::FindInputPreset(quint16 word) const
{
    // Bit 0 of a preset number (bit 7 of the word) is not compared.
    CZunInputPreset found;
    for (const CZunInputPreset& p : m_inputPresets) {
        if ((p.getNumber() >> 1) == ((word >> 8) & 0x7F))
            found = p;
    }
    return found;
}

CZunFullRoutingPreset CRoutingLibrary::FindFullRoutingPreset(quint16 word0, quint16 word1) const
{
    const quint32 pattern = (quint32(word1) << 16) | word0;
    CZunFullRoutingPreset found;
    for (const CZunFullRoutingPreset& p : m_fullRoutingPresets) {
        if (p.getPattern() == pattern)
            found = p;
    }
    return found;
}

QList<CZunFullRoutingPreset> CRoutingLibrary::FindFullRouting(const CZunFullRoutingPreset& preset) const
{
    QList<CZunFullRoutingPreset> list;
    for (const CZunFullRoutingPreset& p : m_fullRoutingPresets) {
        if (p == preset)
            list << p;
    }
    return list;
}
