#pragma once

#include "CZunFullRoutingPreset.h"
#include "CZunInputPreset.h"
#include "CZunRoutingPreset.h"

#include <QList>
#include <QMetaType>
#include <QSharedPointer>

class CCmdMap;

// Every routing, input and full-routing preset of one firmware, built once from the
// command map's "Inf_RP_", "Inf_IR_" and "Inf_FR_" entries and read-only afterwards (so
// it may be read from any thread). Routing presets are sorted by description, input
// presets by label text, full presets by name.
class CRoutingLibrary
{
public:
    // Throws CCmdMap::invalid_cmd when a preset needs a name the map lacks.
    explicit CRoutingLibrary(const QSharedPointer<CCmdMap>& map);
    virtual ~CRoutingLibrary();

    QList<CZunRoutingPreset> GetRoutingPresets() const { return m_routingPresets; }
    QList<CZunFullRoutingPreset> GetFullRoutingPresets() const { return m_fullRoutingPresets; }
    // All input presets, those that fit the routing preset first.
    QList<CZunInputPreset> GetInputPresets(const CZunRoutingPreset& routing) const;

    // Whether the input preset belongs to the routing preset's group.
    static bool fits(const CZunInputPreset& input, const CZunRoutingPreset& routing);

    // Single look-ups answer the last match in list order, a default preset for none.
    CZunRoutingPreset FindRoutingPreset(quint16 word) const;
    CZunInputPreset FindInputPreset(quint16 word) const;
    CZunFullRoutingPreset FindFullRoutingPreset(quint16 word0, quint16 word1) const;
    QList<CZunFullRoutingPreset> FindFullRouting(const CZunFullRoutingPreset& preset) const;

    QSharedPointer<CCmdMap> cmdMap() const { return m_map; }

private:
    QSharedPointer<CCmdMap> m_map;
    QList<CZunRoutingPreset> m_routingPresets;
    QList<CZunInputPreset> m_inputPresets;
    QList<CZunFullRoutingPreset> m_fullRoutingPresets;
};

Q_DECLARE_METATYPE(QSharedPointer<CRoutingLibrary>)
