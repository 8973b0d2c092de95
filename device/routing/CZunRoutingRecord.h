#pragma once

#include "CZunFullRoutingPreset.h"
#include "CZunInputPreset.h"
#include "CZunRoutingPreset.h"
#include "CZunRoutingWord.h"

#include <QSharedPointer>

class CCmdMap;

// The routing state of one device: its decoded routing word with the routing and input
// presets it names, and (assigned by its owner) the full routing.
class CZunRoutingRecord
{
public:
    static constexpr int NoSlot = 8;

    CZunRoutingRecord() = default;
    // Throws CCmdMap::invalid_cmd when the presets of the word need a name the map lacks.
    CZunRoutingRecord(const QSharedPointer<CCmdMap>& map, quint16 word);

    // Decodes the word and rebuilds both presets from the map; the full routing stays.
    void setWord(const QSharedPointer<CCmdMap>& map, quint16 word);

    const CZunRoutingWord& getRoutingWord() const { return m_routingWord; }
    const CZunInputPreset& getInputPreset() const { return m_inputPreset; }
    const CZunRoutingPreset& getRoutingPreset() const { return m_routingPreset; }
    const CZunFullRoutingPreset& getFullRouting() const { return m_fullRouting; }
    void setFullRouting(const CZunFullRoutingPreset& full) { m_fullRouting = full; }

    // The source feeding the output; 26 when the routing preset lists no such output.
    int GetSourceOfOutput(int output) const;
    // The source of the slot; 26 unless the routing preset uses the slot.
    int GetSourceOfSlot(int slot) const;
    // The first slot 0-7 the source feeds; 8 when none.
    int FindSlotOfSource(int source) const;
    // The input path 0-7 of the source's slot; 99 when the source is on no slot.
    int GetKeypadInfoOfSource(int source) const;

private:
    CZunRoutingWord m_routingWord;
    CZunInputPreset m_inputPreset;
    CZunRoutingPreset m_routingPreset;
    CZunFullRoutingPreset m_fullRouting;
};
