#include "CRoutingManager.h"

#include "CCmdMap.h"
#include <QHash>
#include "CRoutingLibrary.h"
#include "CZun.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "CZunStatusBuffer.h"

namespace {
// The keypad source parameters of routing slots 0-7.
const char* const KeypadParams[8] = {"Cmd_0_KPSourceInfoM", "Cmd_0_KPSourceInfoN", "Cmd_0_KPSourceInfoO",
                                     "Cmd_0_KPSourceInfoP", "Cmd_1_KPSourceInfoQ", "Cmd_1_KPSourceInfoR",
                                     "Cmd_1_KPSourceInfoS", "Cmd_1_KPSourceInfoT"};
const char* const OutdatedText = "The firmware seems to be outdated. Please update to the newest one.";
} // namespace

CRoutingManager::CRoutingManager(CZun* zun)
    : m_zun(zun), m_map(zun ? zun->GetCmdMap() : QSharedPointer<CCmdMap>()),
      m_library(zun ? zun->GetRoutingLibrary() : QSharedPointer<CRoutingLibrary>())
{
}

CRoutingManager::~CRoutingManager()
{
    // Outputs first: an output's destructor still finds its source input.
    for (const auto& o : qAsConst(m_outputs))
        delete o.data();
    for (const auto& i : qAsConst(m_inputs))
        delete i.data();
}

quint16 CRoutingManager::imageWord(const char* name) const
{
    const quint16 nr = m_map->getCmdNr(name);
    CZunStatusBuffer* image = m_zun->GetStatusBuffer();
    return image ? image->getValue(nr) : 0;
}

void CRoutingManager::send(const char* name, quint16 value)
{
    m_zun->SendCmd(m_map->getCmdNr(name), value);
}

void CRoutingManager::reportOutdated()
{
    emit signal_exception(QStringLiteral("ZunControl"), QString::fromLatin1(OutdatedText));
}

void CRoutingManager::refreshGains()
{
    for (const auto& o : qAsConst(m_outputs))
        if (o)
            o->applyGain(o->GetGain(), o->IsPhaseInverted());
    for (const auto& i : qAsConst(m_inputs))
        if (i)
            i->applyGain(i->GetGain());
}

void CRoutingManager::buildSourceMaps()
{
    m_pathOfSource.clear();
    m_sourceOfPath.clear();
    for (int i = 1; i <= 25; ++i) {
        const int p = FindSourceInfo(i);
        m_pathOfSource.insert(i, p);
        m_sourceOfPath.insert(p, i);
    }
}

void CRoutingManager::rebuild(quint16 routingWord)
{
    const bool fromImage = routingWord == 0xFFFF;
    quint16 word = routingWord;
    if (fromImage) {
        word = imageWord("Cmd_SPI_Routing");
        if (m_pathOfSource.isEmpty())
            buildSourceMaps();
        refreshGains();
    }
    // The same routing on the same hardware keeps its channels; hardware information that
    // came late (a processor found by a network scan) brings the outputs it has.
    if (word == m_currentWord && m_outputs.size() == m_zun->GetHardwareInfo().analogOutputCount())
        return;

    // Names the operator gave stay with the output number, and with the input's place in
    // the list (an input switch makes other sources of the same inputs).
    QHash<int, QString> outputNames;
    QStringList inputNames;
    for (const auto& o : qAsConst(m_outputs))
        if (o && o->GetName() != o->CZunAbstractFrequencyResponse::defaultName())
            outputNames.insert(int(o->GetOutput()), o->GetName());
    for (const auto& i : qAsConst(m_inputs))
        inputNames << (i && i->GetName() != i->CZunAbstractFrequencyResponse::defaultName() ? i->GetName() : QString());

    for (const auto& o : qAsConst(m_outputs))
        delete o.data();
    for (const auto& i : qAsConst(m_inputs))
        delete i.data();
    m_outputs.clear();
    m_inputs.clear();
    m_currentWord = word;

    try {
        m_record = CZunRoutingRecord(m_map, word);
    } catch (const CCmdMap::invalid_cmd&) {
        reportOutdated();
    }

    m_slotsOfSource.clear();
    for (int s = 0; s < 8; ++s)
        m_slotsOfSource.insert(m_record.GetSourceOfSlot(s), s);

    if (fromImage) {
        try {
            buildSourceMaps();
        } catch (const CCmdMap::invalid_cmd&) {
            reportOutdated();
        }
    }

    for (int i = 0; i < m_zun->GetHardwareInfo().analogOutputCount(); ++i) {
        auto* output = new CZunOutput(m_zun, ZunC::AnalogOutputs(i));
        if (fromImage)
            output->applyGain(output->GetGain(), output->IsPhaseInverted());
        m_outputs.append(output);
    }

    for (const auto& output : qAsConst(m_outputs)) {
        const int source = m_record.GetSourceOfOutput(int(output->GetOutput()));
        if (source >= 24 || source < 1)
            continue;
        CZunInput* input = GetInput(source);
        if (!input) {
            input = new CZunInput(m_zun, source);
            if (fromImage)
                input->applyGain(input->GetGain());
            m_inputs.append(input);
        }
        output->ConnectSource();
        input->AddOutput(output->GetOutput());
    }
    for (const auto& o : qAsConst(m_outputs))
        if (outputNames.contains(int(o->GetOutput())))
            o->SetName(outputNames.value(int(o->GetOutput())));
    for (int i = 0; i < m_inputs.size() && i < inputNames.size(); ++i)
        if (!inputNames.at(i).isEmpty())
            m_inputs.at(i)->SetName(inputNames.at(i));
}

void CRoutingManager::BlockRecalculation(bool block)
{
    for (const auto& i : qAsConst(m_inputs))
        if (i)
            i->suspendRecalculation = block;
    for (const auto& o : qAsConst(m_outputs))
        if (o)
            o->suspendRecalculation = block;
}

void CRoutingManager::updateFrequencyResponse()
{
    for (const auto& i : qAsConst(m_inputs))
        if (i)
            i->recalculate();
    for (const auto& o : qAsConst(m_outputs))
        if (o)
            o->recalculate();
}

// --- channels ----------------------------------------------------------------------

CZunOutput* CRoutingManager::GetOutput(int output) const
{
    for (const auto& o : m_outputs)
        if (o && int(o->GetOutput()) == output)
            return o;
    return nullptr;
}

CZunOutput* CRoutingManager::GetOutputOfSlot(int slot) const
{
    return GetOutput(slot >= 4 ? slot - 2 : slot);
}

CZunOutput* CRoutingManager::GetOutputByName(const QString& name) const
{
    for (const auto& o : m_outputs)
        if (o && o->GetName() == name)
            return o;
    return nullptr;
}

CZunInput* CRoutingManager::GetInputByName(const QString& name) const
{
    for (const auto& i : m_inputs)
        if (i && i->GetName() == name)
            return i;
    return nullptr;
}

CZunInput* CRoutingManager::GetInput(int source) const
{
    for (const auto& i : m_inputs)
        if (i && i->GetInputPath() == source)
            return i;
    return nullptr;
}

CZunInput* CRoutingManager::GetInputOfSlot(int channelSlot) const
{
    int slot = CZunRoutingRecord::NoSlot;
    if (channelSlot >= 0 && channelSlot < 4)
        slot = channelSlot;
    else if (channelSlot >= 4 && channelSlot < 6)
        slot = channelSlot - 4;
    else if (channelSlot >= 6 && channelSlot < 10)
        slot = channelSlot - 2;
    else if (channelSlot >= 10 && channelSlot < 12)
        slot = channelSlot - 6;
    return GetInput(m_record.GetSourceOfSlot(slot));
}

int CRoutingManager::GetChannelSlotOfOutput(int output)
{
    return output < 4 ? output : output + 2;
}

int CRoutingManager::GetChannelSlotOfSource(int source) const
{
    static const int routingSlots[4] = {0, 1, 4, 5};
    static const int channelSlots[4] = {4, 5, 10, 11};
    for (int k = 0; k < 4; ++k)
        if (m_record.GetSourceOfSlot(routingSlots[k]) == source)
            return channelSlots[k];
    return NoChannelSlot;
}

QString CRoutingManager::GetDefaultOutputName(int output)
{
    return CZunOutput::defaultName(output);
}

QString CRoutingManager::GetInputName(int source) const
{
    return m_map->getStringConst(QStringLiteral("InfS_Input_%1").arg(source, 2, 10, QLatin1Char('0')));
}

// --- sources and paths ----------------------------------------------------------------

QList<int> CRoutingManager::GetSlotsOfSource(int source) const
{
    return m_slotsOfSource.values(source);
}

int CRoutingManager::GetOutputSourceInfo(int slot) const
{
    if (slot < 0 || slot > 7)
        return NoPath;
    return imageWord(KeypadParams[slot]) >> 8;
}

int CRoutingManager::FindSourceInfo(int source) const
{
    for (int slot : GetSlotsOfSource(source)) {
        const int info = GetOutputSourceInfo(slot);
        if (info != NoPath)
            return info;
    }
    return NoPath;
}

int CRoutingManager::GetSourceOf(int source) const
{
    return m_pathOfSource.value(source, NoPath);
}

int CRoutingManager::GetOutputSource(int path) const
{
    return m_sourceOfPath.value(path, NoSource);
}

// --- current routing ------------------------------------------------------------------

CZunRoutingPreset CRoutingManager::GetSPIRouting() const
{
    return m_library ? m_library->FindRoutingPreset(imageWord("Cmd_SPI_Routing")) : CZunRoutingPreset();
}

CZunInputPreset CRoutingManager::GetDSPRouting() const
{
    return m_library ? m_library->FindInputPreset(imageWord("Cmd_SPI_Routing")) : CZunInputPreset();
}

CZunFullRoutingPreset CRoutingManager::GetFullRouting() const
{
    return m_library ? m_library->FindFullRoutingPreset(imageWord("Cmd_DSP_FullRouting0"),
                                                        imageWord("Cmd_DSP_FullRouting1"))
                     : CZunFullRoutingPreset();
}

quint16 CRoutingManager::GetAESInputSelect() const
{
    return imageWord("Cmd_SPI_ARX_InpSel");
}

quint16 CRoutingManager::GetAESOutputSelect() const
{
    return imageWord("Cmd_SPI_ATX_OutSel");
}

QMap<int, QString> CRoutingManager::GetAESInputSelectKeys() const
{
    return m_map->GetStringMapForKeysBeginningWith(QStringLiteral("Inf_Sel_ARX_"));
}

QMap<int, QString> CRoutingManager::GetAESOutputSelectKeys() const
{
    return m_map->GetStringMapForKeysBeginningWith(QStringLiteral("Inf_Sel_ATX_"));
}

// --- sending ----------------------------------------------------------------------------

void CRoutingManager::SetRouting(const CZunRoutingPreset& routing, const CZunInputPreset& input)
{
    const quint16 word = CZunRoutingWord::compose(routing.getNumber(), input.getNumber());
    send("Cmd_SPI_Routing", word);
    send("Cmd_DSP_Routing", word);
}

void CRoutingManager::SetFullRouting(const CZunFullRoutingPreset& full)
{
    SetRouting(full.GetRoutingPreset(), full.GetInputPreset());
    send("Cmd_DSP_FullRouting0", quint16(full.getPattern() & 0xFFFF));
    send("Cmd_DSP_FullRouting1", quint16(full.getPattern() >> 16));
}

void CRoutingManager::SetAESInputSelect(int value)
{
    send("Cmd_SPI_ARX_InpSel", quint16(value));
}

void CRoutingManager::SetAESOutputSelect(int value)
{
    send("Cmd_SPI_ATX_OutSel", quint16(value));
}

void CRoutingManager::SetExtClockSelect(int value)
{
    send("Cmd_ExtClockSel", quint16(value));
}

quint16 CRoutingManager::GetRoutingPresetNumbers(quint16 kind, const QSharedPointer<CCmdMap>& map)
{
    const char* routing = "Inf_RP_21";
    const char* input = "Inf_IR_21";
    switch (kind) {
    case 2: input = "Inf_IR_22"; break;
    case 3: input = "Inf_IR_23"; break;
    case 4: routing = "Inf_RP_44"; break;
    case 5: routing = "Inf_RP_42"; input = "Inf_IR_41"; break;
    default: break;
    }
    return quint16(map->getIntConst(QLatin1String(routing)) + 128 * map->getIntConst(QLatin1String(input)));
}

void CRoutingManager::setCmdMap(QSharedPointer<CCmdMap> map, QSharedPointer<CRoutingLibrary> library)
{
    m_map = std::move(map);
    m_library = std::move(library);
}
