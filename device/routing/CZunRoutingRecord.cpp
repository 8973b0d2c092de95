#include "CZunRoutingRecord.h"

CZunRoutingRecord::CZunRoutingRecord(const QSharedPointer<CCmdMap>& map, quint16 word)
{
    setWord(map, word);
}

void CZunRoutingRecord::setWord(const QSharedPointer<CCmdMap>& map, quint16 word)
{
    const CZunRoutingWord decoded(word);
    // Built first, so a failing look-up leaves the record as it was.
    CZunInputPreset input(map, decoded.irNumber);
    CZunRoutingPreset routing(map, decoded.rpNumber);
    m_routingWord = decoded;
    m_inputPreset = input;
    m_routingPreset = routing;
}

int CZunRoutingRecord::GetSourceOfOutput(int output) const
{
    return m_inputPreset.GetSourceOfSlot(m_routingPreset.GetSlotOfOutput(output));
}

int CZunRoutingRecord::GetSourceOfSlot(int slot) const
{
    if (!m_routingPreset.UsesSlot(slot))
        return CZunInputPreset::NoSource;
    return m_inputPreset.GetSourceOfSlot(slot);
}

int CZunRoutingRecord::FindSlotOfSource(int source) const
{
    // Only the slots the input preset really has: on an empty preset every slot would
    // answer 26, and asking for "no source" must not find slot 0.
    const int count = qMin(8, m_inputPreset.getSources().size());
    for (int slot = 0; slot < count; ++slot) {
        if (m_inputPreset.getSources().at(slot) == source)
            return slot;
    }
    return NoSlot;
}

int CZunRoutingRecord::GetKeypadInfoOfSource(int source) const
{
    return m_inputPreset.GetKeypadInfoOfSlot(FindSlotOfSource(source));
}
