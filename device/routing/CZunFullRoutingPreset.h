#pragma once

#include "CZunInputPreset.h"
#include "CZunRoutingPreset.h"
#include "CZunRoutingWord.h"
#include "ZunMultipathMode.h"

#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>

class CCmdMap;
class CRoutingLibrary;

// A full-routing preset of newer firmware: one "Inf_FR_<32 binary digits>" entry. The
// digits are the pattern ("Cmd_DSP_FullRouting1" << 16 | "Cmd_DSP_FullRouting0"):
// bits 28-31 input kind, 16-19 multipath modes of DSP 1, 12-15 those of DSP 2, 9-11 the
// variant - 1, 5-8 fan-out, 3 network-audio module. The entry's value is the routing word
// it selects; "InfS_FR_<digits>" is its name.
class CZunFullRoutingPreset
{
public:
    CZunFullRoutingPreset() = default;
    // A name the map lacks, or digits that are no 32-bit binary number, throw
    // CCmdMap::invalid_cmd.
    CZunFullRoutingPreset(const QSharedPointer<CCmdMap>& map, const QString& entryName);
    // The full routing that an announced routing word selects in the library: the last
    // library preset with that word; without one, a preset with pattern 0 and no name
    // that carries the word and the library's routing and input presets of it.
    CZunFullRoutingPreset(const QSharedPointer<CRoutingLibrary>& library, quint16 routingWord);

    quint32 getPattern() const { return m_pattern; }
    quint16 getVariant() const { return m_variant; }
    const QString& getName() const { return m_name; }
    const CZunRoutingWord& getRoutingWord() const { return m_routingWord; }
    CZunRoutingPreset GetRoutingPreset() const { return m_routingPreset; }
    CZunInputPreset GetInputPreset() const { return m_inputPreset; }

    // The source id feeding the output; 26 when none does.
    int GetSourceOfOutput(int output) const;

    // dsp 1 or 2; anything else throws std::logic_error.
    bool isMultipathModeSupported(int dsp, ZunC::MultipathMode mode) const;
    QList<ZunC::MultipathMode> GetMultipathModesForDSP(int dsp) const;

    // Bits 28-31 (the wizard's filter flags) are left out.
    bool operator==(const CZunFullRoutingPreset& o) const;
    bool operator!=(const CZunFullRoutingPreset& o) const { return !(*this == o); }

private:
    quint32 m_pattern = 0;
    quint16 m_variant = 0;
    QString m_name;
    CZunRoutingWord m_routingWord;
    CZunRoutingPreset m_routingPreset;
    CZunInputPreset m_inputPreset;
};

Q_DECLARE_METATYPE(CZunFullRoutingPreset)
