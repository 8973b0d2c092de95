#include "CZunFullRoutingPreset.h"

#include "CCmdMap.h"
#include "CRoutingLibrary.h"

#include <stdexcept>

CZunFullRoutingPreset::CZunFullRoutingPreset(const QSharedPointer<CCmdMap>& map, const QString& entryName)
{
    m_routingWord.decode(map->getCmdNr(entryName));
    m_routingPreset = CZunRoutingPreset(map, m_routingWord.rpNumber);
    m_inputPreset = CZunInputPreset(map, m_routingWord.irNumber);

    const int first = entryName.indexOf(QLatin1Char('_'));
    const int second = entryName.indexOf(QLatin1Char('_'), first + 1);
    const QString digits = second < 0 ? QString() : entryName.mid(second + 1);
    bool ok = digits.size() == 32;
    if (ok)
        m_pattern = digits.toUInt(&ok, 2);
    if (!ok) {
        throw CCmdMap::invalid_cmd(
            QStringLiteral("\"%1\" does not end in a 32-digit binary pattern").arg(entryName).toStdString(), false);
    }
    m_variant = static_cast<quint16>(((m_pattern >> 9) & 7) + 1);
    m_name = map->getStringConst(CZunRoutingPreset::textNameOf(entryName));
}

CZunFullRoutingPreset::CZunFullRoutingPreset(const QSharedPointer<CRoutingLibrary>& library, quint16 routingWord)
{
    if (!library) {
        m_routingWord.decode(routingWord);
        return;
    }
    bool found = false;
    for (const CZunFullRoutingPreset& p : library->GetFullRoutingPresets()) {
        if (p.m_routingWord.word == routingWord) {
            *this = p;
            found = true;
        }
    }
    if (found)
        return;
    m_routingWord.decode(routingWord);
    m_routingPreset = library->FindRoutingPreset(routingWord);
    m_inputPreset = library->FindInputPreset(routingWord);
}

int CZunFullRoutingPreset::GetSourceOfOutput(int output) const
{
    return m_inputPreset.GetSourceOfSlot(m_routingPreset.GetSlotOfOutput(output));
}

static int multipathBase(int dsp, const char* text)
{
    if (dsp == 1)
        return 16;
    if (dsp == 2)
        return 12;
    throw std::logic_error(text);
}

bool CZunFullRoutingPreset::isMultipathModeSupported(int dsp, ZunC::MultipathMode mode) const
{
    const int base = multipathBase(dsp, "CZunFullRoutingPreset::isMultipathModeSupported(): invalid dsp specified");
    const auto bit = [this, base](int offset) { return (m_pattern >> (base + offset)) & 1u; };
    switch (mode) {
    case ZunC::MP_None:
        return m_pattern != 0;
    case ZunC::MP_MidHi:
        return bit(2);
    case ZunC::MP_LoMid:
        return bit(1);
    case ZunC::MP_LoMidHi:
        return bit(3);
    case ZunC::MP_2xMidHi:
        return bit(0);
    }
    return false;
}

QList<ZunC::MultipathMode> CZunFullRoutingPreset::GetMultipathModesForDSP(int dsp) const
{
    const int base = multipathBase(dsp, "CZunFullRoutingPreset::GetMultipathModesForDSP(dsp) : Invalid DSP specified.");
    QList<ZunC::MultipathMode> modes{ZunC::MP_None};
    if ((m_pattern >> (base + 3)) & 1u)
        modes << ZunC::MP_LoMidHi;
    if ((m_pattern >> (base + 2)) & 1u)
        modes << ZunC::MP_MidHi;
    if ((m_pattern >> (base + 1)) & 1u)
        modes << ZunC::MP_LoMid;
    return modes;
}

bool CZunFullRoutingPreset::operator==(const CZunFullRoutingPreset& o) const
{
    return (m_pattern & 0x0FFFFFFFu) == (o.m_pattern & 0x0FFFFFFFu) && m_variant == o.m_variant;
}
