#include "CEQManager.h"

#include "CZunBiquadDesign.h"
#include "CZunHighOrderDesign.h"

#include "CCmdMap.h"
#include "CZun.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunMetaCmd.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"

#include <QDebug>
#include <QMutexLocker>
#include <QSet>

#include <cmath>
#include <stdexcept>

namespace
{
double roundAway(double x) { return x >= 0.0 ? std::floor(x + 0.5) : std::ceil(x - 0.5); }

// Rounding half away from zero to the grid g.
double roundTo(double x, double g) { return roundAway(x / g) * g; }

// T(R(x, 1/perUnit)) without the floating-point detour: x rounded half away from zero to
// whole 1/perUnit and then truncated towards zero, in integers, so that a value that is
// exactly on the grid never loses a step.
qint64 truncRounded(double x, int perUnit)
{
    return qint64(roundAway(x * perUnit)) / perUnit;
}

// A word value that should be whole but may carry float noise (0.7f x 10 = 6.9999999).
qint64 truncWhole(double x) { return qint64(roundAway(x * 10000.0)) / 10000; }

const char* const neutralType = "Inf_Sel_Typ_EQ_Peak";

enum NameCache { EQTypes, EQTypesShort, HOFTypes, HOFTypesShort, HOFChars, HOFCharsShort };
} // namespace

CEQManager::CEQManager(CZun* zun) : m_zun(zun), m_map(zun->GetCmdMap())
{
    initConstants();
    connect(m_map.data(), &CCmdMap::signal_CmdMapChanged, this, &CEQManager::initConstants);
}

CEQManager::~CEQManager()
{
    delete m_frequencyRange;
    delete m_gainRange;
    delete m_qualityRange;
    delete m_fourthRange;
    delete m_rippleRange;
    for (int d = 0; d < 2; ++d)
        deleteObjects(d);
}

void CEQManager::fail(const QString& text) const
{
    qDebug().noquote() << text;
    throw std::logic_error(text.toStdString());
}

quint16 CEQManager::nr(const char* name) const { return m_map->getCmdNr(name); }

quint16 CEQManager::word(quint16 cmd) const { return m_zun->GetStatusBuffer()->getValue(cmd); }

bool CEQManager::linked() const { return m_zun->GetStatusBuffer() && m_zun->GetStatusBuffer()->isLinked(); }

quint16 CEQManager::eqRecordBase(int number) const
{
    const int d = dspOfEQ(number);
    return quint16(nr(d ? "Inf_DSP1_ParBaseEQ" : "Inf_DSP0_ParBaseEQ") + 5 * (number - m_eqCount * d));
}

quint16 CEQManager::filterRecordBase(int number) const
{
    const int d = dspOfFilter(number);
    return quint16(nr(d ? "Inf_DSP1_ParBaseFi" : "Inf_DSP0_ParBaseFi") + 5 * (number - m_filterCount * d));
}

// ---------------------------------------------------------------------------------------
// Constants, ranges and names

void CEQManager::initConstants()
{
    const CCmdMap& map = *m_map;
    const float stepF = float(roundTo(map.getFltConst("Step_EQ_F"), 0.1));
    const float stepG = float(roundTo(map.getFltConst("Step_EQ_G"), 0.1));
    const float stepQ = float(roundTo(map.getFltConst("Step_EQ_Q"), 0.0001));
    const double minQ = map.getFltConst("Min_EQ_Quality") * stepQ;
    const double maxQ = map.getFltConst("Max_EQ_Quality") * stepQ;
    auto* frequency = new CZunParam({{stepF * 30.0, 1},
                                     {30, 1},
                                     {75, 2},
                                     {150, 5},
                                     {300, 10},
                                     {600, 20},
                                     {1000, 50},
                                     {5000, 100},
                                     {stepF * 60000.0, 0}});
    auto* gain = new CZunParam({{stepG * -990.0, stepG}, {stepG * 120.0, 0}});
    auto* quality = new CZunParam({{minQ, 0.05}, {1, 0.1}, {3, 0.2}, {6, 1}, {10, 2}, {50, 5}, {maxQ, 0}});
    auto* fourth = new CZunParam({{0, 0.1}, {20, 0}});
    auto* ripple = new CZunParam({{0.1, 0.1}, {6, 0}});
    QMutexLocker lock(&m_mutex);
    m_stepF = stepF;
    m_stepG = stepG;
    m_stepQ = stepQ;
    delete m_frequencyRange;
    delete m_gainRange;
    delete m_qualityRange;
    delete m_fourthRange;
    delete m_rippleRange;
    m_frequencyRange = frequency;
    m_gainRange = gain;
    m_qualityRange = quality;
    m_fourthRange = fourth;
    m_rippleRange = ripple;
    for (auto& cache : m_names)
        cache.clear();
}

double CEQManager::GetSampleRate() { return m_zun->GetSampleRate(); }

CEQManagerInterface::Limits CEQManager::GetEQFrequencyLimits()
{
    // The range follows the sample rate: a corner at or above half of it has no design.
    return {m_frequencyRange->GetMin(),
            qMin(m_frequencyRange->GetMax(), CZunBiquadDesign::highestCorner(GetSampleRate(), m_stepF))};
}

CEQManagerInterface::Limits CEQManager::GetEQGainLimits() { return {m_gainRange->GetMin(), m_gainRange->GetMax()}; }

CEQManagerInterface::Limits CEQManager::GetEQQualityLimits()
{
    return {m_qualityRange->GetMin(), m_qualityRange->GetMax()};
}

void CEQManager::GetFrequencyRange(CEQManagerInterface::Limits& range)
{
    range = GetEQFrequencyLimits();
}

QString CEQManager::rangeText(const char* what, double value, const CZunParam* range) const
{
    return QStringLiteral("%1 value of %2 is out of bounds. Valid values are between %3 and %4.")
        .arg(QLatin1String(what), QString::number(value, 'g', 6), QString::number(range->GetMin(), 'g', 6),
             QString::number(range->GetMax(), 'g', 6));
}

namespace
{
double shelf(double f, double k, double rate)
{
    const double w = M_PI / rate;
    return std::atan(std::tan(w * f) * k) / w;
}
} // namespace

double CEQManager::ShelfFrequencyFromDevice(double f, double gain, quint16 type, double rate)
{
    double k = 1.0;
    bool isShelf = true;
    switch (type) {
    case 5: k = std::pow(2.0, std::abs(gain) / 12.0412); break;
    case 6: k = std::pow(2.0, std::abs(gain) / 24.0824); break;
    case 7: k = std::pow(2.0, std::abs(gain) / -12.0412); break;
    case 8: k = std::pow(2.0, gain / 24.0824); break;
    default: isShelf = false;
    }
    const double result = isShelf ? shelf(f, k, rate) : f;
    return roundAway(double(float(result)));
}

double CEQManager::ShelfFrequencyToDevice(double f, double gain, quint16 type, double rate)
{
    double k = 1.0;
    switch (type) {
    case 5: k = std::pow(2.0, std::abs(gain) / -12.0412); break;
    case 6: k = std::pow(2.0, std::abs(gain) / -24.0824); break;
    case 7: k = std::pow(2.0, std::abs(gain) / 12.0412); break;
    case 8: k = std::pow(2.0, gain / -24.0824); break;
    default: return f;
    }
    return roundAway(2.0 * double(float(shelf(f, k, rate)))) / 2.0;
}

double CEQManager::GetShelfResponseFrequency(const EQ_PARAMS& p)
{
    if (m_zun->GetFirmwareVersion() < 1075)
        return p.frequency;
    double k;
    switch (p.type) {
    case 5: k = std::pow(2.0, std::abs(p.gain) / -12.0412); break;
    case 6: k = std::pow(2.0, std::abs(p.gain) / -24.0824); break;
    case 7: k = std::pow(2.0, std::abs(p.gain) / 12.0412); break;
    case 8: k = std::pow(2.0, std::abs(p.gain) / 24.0824); break;
    default: return p.frequency;
    }
    return shelf(p.frequency, k, GetSampleRate());
}

QMap<int, QString> CEQManager::names(int cache, const char* prefix, bool removeNeutral, int removeNumber)
{
    QMutexLocker lock(&m_mutex);
    if (m_names[cache].isEmpty()) {
        QMap<int, QString> map = m_map->GetStringMapForKeysBeginningWith(QLatin1String(prefix));
        for (auto it = map.begin(); it != map.end();) {
            if ((removeNeutral && it.value().contains(QLatin1String("Neutral"))) || it.key() == removeNumber)
                it = map.erase(it);
            else
                ++it;
        }
        m_names[cache] = map;
    }
    return m_names[cache];
}

QMap<int, QString> CEQManager::GetEQTypeNames(bool shortNames)
{
    return shortNames ? names(EQTypesShort, "Inf_Sel_Typ_EQShort_", true, -1)
                      : names(EQTypes, "Inf_Sel_Typ_EQ_", true, -1);
}

QMap<int, QString> CEQManager::GetHOFTypeNames(bool shortNames)
{
    return shortNames ? names(HOFTypesShort, "Inf_Sel_Typ_HOFShort_", true, -1)
                      : names(HOFTypes, "Inf_Sel_Typ_HOF_", true, -1);
}

QMap<int, QString> CEQManager::GetHOFCharacteristicNames(bool shortNames)
{
    const int allpass = nr("Inf_Sel_Char_HOF_Allpass");
    return shortNames ? names(HOFCharsShort, "Inf_Sel_Char_HOFShort_", false, allpass)
                      : names(HOFChars, "Inf_Sel_Char_HOF_", false, allpass);
}

QString CEQManager::GetStringForEQTypeSelection(quint16 type, bool shortName)
{
    const auto map = GetEQTypeNames(shortName);
    if (!map.contains(type))
        fail(QStringLiteral("CEQManager::GetStringForEQTypeSelection(): requested type-nr not found in spCmdMap->"));
    return map.value(type);
}

QString CEQManager::GetStringForHighOrderFilterTypeSelection(quint16 passband, bool shortName)
{
    const auto map = GetHOFTypeNames(shortName);
    if (!map.contains(passband))
        fail(QStringLiteral(
            "CEQManager::GetStringForHighOrderFilterTypeSelection(): requested type-nr not found in spCmdMap->"));
    return map.value(passband);
}

QString CEQManager::GetStringForHighOrderFilterCharacterisitcSelection(quint16 characteristic, bool shortName)
{
    if (characteristic == nr("Inf_Sel_Char_HOF_Allpass"))
        return QStringLiteral("---");
    const auto map = GetHOFCharacteristicNames(shortName);
    if (!map.contains(characteristic))
        fail(QStringLiteral("CEQManager::GetStringForHighOrderFilterCharacterisitcSelection(): requested type-nr "
                            "not found in spCmdMap->"));
    return map.value(characteristic);
}

// ---------------------------------------------------------------------------------------
// Decoding, bookkeeping, look-ups

void CEQManager::GetEQ(EQ_PARAMS& p)
{
    const int n = p.number;
    if (n >= 2 * m_eqCount)
        fail(QStringLiteral("CEQManager::GetEQ(): invalid EQ number"));
    const int d = dspOfEQ(n);
    const quint16 base = eqRecordBase(n);
    const quint16 w0 = word(base), w1 = word(base + 1), w2 = word(base + 2), w3 = word(base + 3),
                  w4 = word(base + 4);
    p.type = w0 & 0x3FFF;
    p.active = (w0 & 0x4000) == 0;
    p.flag = (w0 & 0x8000) != 0;
    p.gain = roundTo(qint16(w3) * double(m_stepG), 0.1);
    p.frequency = roundTo(w1 * double(m_stepF), 0.1);
    p.quality = roundTo(w2 * double(m_stepQ), 0.0025);
    p.bank = quint16(w4 + 6 * d);
    if (m_zun->GetFirmwareVersion() >= 1075)
        p.frequency = ShelfFrequencyFromDevice(p.frequency, p.gain, p.type, GetSampleRate());
}

void CEQManager::GetHighOrderFilter(HO_FILTER_PARAMS& p)
{
    const int n = p.number;
    if (n >= 2 * m_filterCount)
        fail(QStringLiteral("CEQManager::GetHighOrderFilter(): invalid filter number"));
    const int d = dspOfFilter(n);
    const quint16 base = filterRecordBase(n);
    const quint16 w0 = word(base), w1 = word(base + 1), w2 = word(base + 2), w3 = word(base + 3),
                  w4 = word(base + 4);
    p.flag = (w0 & 0x8000) != 0;
    p.passband = (w0 >> 12) & 7;
    p.bank = quint16(((w0 >> 8) & 0xF) + 6 * d);
    p.order = (w0 >> 4) & 0xF;
    p.characteristic = w0 & 0xF;
    p.frequency = w1;
    p.ripple = (w4 >> 8) / 10.0;
    const quint16 bytes[5] = {quint16(w2 & 0xFF), quint16(w2 >> 8), quint16(w3 & 0xFF), quint16(w3 >> 8),
                              quint16(w4 & 0xFF)};
    for (int i = 0; i < 5; ++i)
        p.sections[i] = p.order >= 2 * i + 1 ? bytes[i] : HO_FILTER_PARAMS::NoSection;
}

bool CEQManager::isActiveEQType(const EQ_PARAMS& p) const
{
    if (p.type <= nr("Inf_Sel_Typ_EQ_HP12") || p.type >= nr("Inf_Sel_Typ_EQ_AP_6"))
        return true;
    return p.gain != 0.0;
}

bool CEQManager::IsEQUsed(int number) const
{
    QMutexLocker lock(&m_mutex);
    if (number < 0 || number >= 2 * m_eqCount)
        return false;
    return !m_freeEQs[dspOfEQ(number)].contains(number);
}

bool CEQManager::IsHighOrderFilterUsed(int number) const
{
    QMutexLocker lock(&m_mutex);
    if (number < 0 || number >= 2 * m_filterCount)
        return false;
    return !m_freeFilters[dspOfFilter(number)].contains(number);
}

bool CEQManager::IsFreePeakEQ(const EQ_PARAMS& p) const
{
    return std::abs(p.frequency - 1000.0) < 0.001 && std::abs(p.gain) < 0.001 &&
           (std::abs(p.quality - 4.0) < 0.0001 || std::abs(p.quality - 0.1) < 0.0001) && p.type == nr(neutralType);
}

int CEQManager::GetNrFreeEQs(int slot) const
{
    if (slot < 0 || slot > 11)
        fail(QStringLiteral("CEQManager::GetNrFreeEQs(): invalid bank number"));
    QMutexLocker lock(&m_mutex);
    const int d = dspOfSlot(slot);
    return qMin(m_freeEQs[d].size(), m_available[d]);
}

int CEQManager::GetNrNewEQsOfChannel(int slot)
{
    auto room = [this](int s) {
        return qMax(0, qMin(GetNrFreeEQs(s), MaxEQsPerChannel - GetNrUsedEQsOfChannel(s)));
    };
    return linked() ? qMin(room(slot), room((slot + 6) % 12)) : room(slot);
}

int CEQManager::GetNrNewHOFiltersOfChannel(int slot)
{
    QMutexLocker lock(&m_mutex);
    auto room = [this](int s) { return int(m_freeFilters[dspOfSlot(s)].size()); };
    return linked() ? qMin(room(slot), room((slot + 6) % 12)) : room(slot);
}

int CEQManager::GetNrSectionsOfHOFilter(const HO_FILTER_PARAMS& p)
{
    return CZunHighOrderDesign::design(p.passband, p.characteristic, p.order, p.frequency, p.ripple, GetSampleRate())
        .size();
}

QString CEQManager::GetListRefusal(int slot, int eqs, const QList<HO_FILTER_PARAMS>& filters, bool replacing)
{
    int sections = 0;
    for (const HO_FILTER_PARAMS& f : filters)
        sections += GetNrSectionsOfHOFilter(f);
    // What a replace gives back: the channel's EQs and its filters with their sections (a
    // linked partner gives back the same on its own DSP).
    int ownEQs = 0, ownFilters = 0;
    if (replacing) {
        ownEQs = GetEQsOfChannel(slot).size();
        for (const QPointer<CZunHighOrderFilter>& f : GetHighOrderFiltersOfChannel(slot))
            if (f) {
                ++ownFilters;
                ownEQs += f->sections().size();
            }
    }
    auto eqRoom = [&](int s) {
        const int used = GetNrUsedEQsOfChannel(s);
        QMutexLocker lock(&m_mutex);
        const int d = dspOfSlot(s);
        const int free = qMin(int(m_freeEQs[d].size()) + ownEQs, m_available[d]);
        return qMax(0, qMin(free, MaxEQsPerChannel - qMax(0, used - ownEQs)));
    };
    auto filterRoom = [&](int s) {
        QMutexLocker lock(&m_mutex);
        return int(m_freeFilters[dspOfSlot(s)].size()) + ownFilters;
    };
    const int partner = (slot + 6) % 12;
    const int roomEQs = linked() ? qMin(eqRoom(slot), eqRoom(partner)) : eqRoom(slot);
    const int roomFilters = linked() ? qMin(filterRoom(slot), filterRoom(partner)) : filterRoom(slot);
    const QString more = replacing ? QString() : QStringLiteral(" more");
    if (filters.size() > roomFilters)
        return QStringLiteral("it holds %1 crossover filters, and this channel has room for %2%3")
            .arg(filters.size())
            .arg(roomFilters)
            .arg(more);
    if (eqs + sections <= roomEQs)
        return QString();
    if (sections == 0)
        return QStringLiteral("it holds %1 EQs, and this channel has room for %2%3").arg(eqs).arg(roomEQs).arg(more);
    if (eqs == 0)
        return QStringLiteral("its %1 crossover filters take %2 EQ sections, and this channel has room for %3%4 EQs")
            .arg(filters.size())
            .arg(sections)
            .arg(roomEQs)
            .arg(more);
    return QStringLiteral("its %1 EQs and %2 crossover filters take %3 EQs with the filters' sections, and this "
                          "channel has room for %4%5")
        .arg(eqs)
        .arg(filters.size())
        .arg(eqs + sections)
        .arg(roomEQs)
        .arg(more);
}

int CEQManager::GetAvailableEQs(int dsp) const
{
    QMutexLocker lock(&m_mutex);
    return m_available[dsp ? 1 : 0];
}

int CEQManager::GetNrUsedEQsOfChannel(int slot)
{
    int count = 0;
    for (int n = 0; n < 2 * m_eqCount; ++n) {
        EQ_PARAMS p;
        p.number = quint16(n);
        GetEQ(p);
        if (p.bank == slot && !IsFreePeakEQ(p))
            ++count;
    }
    return count;
}

void CEQManager::CalculateAvailableEQs(int capacity0, int capacity1)
{
    int a0, a1;
    {
        QMutexLocker lock(&m_mutex);
        a0 = m_available[0] = capacity0 / 18 - 2;
        a1 = m_available[1] = capacity1 / 18 - 2;
    }
    emit signal_AvailableEQsChanged(a0, a1);
}

bool CEQManager::IsEQInHighOrderFilter(int number)
{
    if (number < 0 || number >= 2 * m_eqCount)
        fail(QStringLiteral("CEQManager::IsEQInHighOrderFilter(): invalid filter number"));
    const int d = dspOfEQ(number);
    for (int m = m_filterCount * d; m < m_filterCount * (d + 1); ++m) {
        HO_FILTER_PARAMS p;
        p.number = quint16(m);
        GetHighOrderFilter(p);
        for (quint16 s : p.sections)
            if (s == number)
                return true;
    }
    return false;
}

bool CEQManager::IsEQObjectInHighOrderFilter(CZunBiquad* biquad)
{
    return biquad && IsEQInHighOrderFilter(biquad->getNumber());
}

CZunBiquad* CEQManager::BiquadAt(int i) const
{
    QMutexLocker lock(&m_mutex);
    if (i < 0)
        return nullptr;
    if (i < m_eqs[0].size())
        return m_eqs[0].at(i);
    i -= m_eqs[0].size();
    return i < m_eqs[1].size() ? m_eqs[1].at(i).data() : nullptr;
}

CZunHighOrderFilter* CEQManager::HighOrderFilterAt(int i) const
{
    QMutexLocker lock(&m_mutex);
    if (i < 0)
        return nullptr;
    if (i < m_filters[0].size())
        return m_filters[0].at(i);
    i -= m_filters[0].size();
    return i < m_filters[1].size() ? m_filters[1].at(i).data() : nullptr;
}

int CEQManager::CountActiveEQs(int selector) const
{
    QMutexLocker lock(&m_mutex);
    int count = 0;
    for (int d = 0; d < 2; ++d) {
        if ((selector >= 1 && selector <= 5 && d == 1) || (selector >= 6 && d == 0))
            continue;
        for (const auto& b : m_eqs[d])
            if (b && !b->isFilterSection())
                ++count;
    }
    return count;
}

int CEQManager::CountHighOrderFilters(int selector) const
{
    QMutexLocker lock(&m_mutex);
    if (selector >= 1 && selector <= 5)
        return m_filters[0].size();
    if (selector >= 6)
        return m_filters[1].size();
    return m_filters[0].size() + m_filters[1].size();
}

QList<QPointer<CZunBiquad>> CEQManager::GetEQsOfChannel(int slot)
{
    QList<QPointer<CZunBiquad>> out;
    if (slot < 0 || slot > 11)
        return out;
    QList<QPointer<CZunBiquad>> list;
    {
        QMutexLocker lock(&m_mutex);
        list = m_eqs[dspOfSlot(slot)];
    }
    for (const auto& b : list)
        if (b && b->getBank() == slot && !IsEQInHighOrderFilter(b->getNumber()))
            out.append(b);
    return out;
}

QList<QPointer<CZunHighOrderFilter>> CEQManager::GetHighOrderFiltersOfChannel(int slot) const
{
    QList<QPointer<CZunHighOrderFilter>> out;
    if (slot < 0 || slot > 11)
        return out;
    QMutexLocker lock(&m_mutex);
    for (const auto& f : m_filters[dspOfSlot(slot)])
        if (f && f->getBank() == slot)
            out.append(f);
    return out;
}

CZunBiquad* CEQManager::GetZunBiquad(int number) const
{
    QMutexLocker lock(&m_mutex);
    const int d = dspOfEQ(number);
    for (const auto& b : m_eqs[d])
        if (b && b->getNumber() == number)
            return b;
    for (const auto& f : m_filters[d])
        if (f && f->findSection(number))
            for (CZunBiquad* s : f->sections())
                if (s->getNumber() == number)
                    return s;
    fail(QStringLiteral("CEQManager::GetZunBiquad(nr): nr not in list of used biquads."));
}

CZunHighOrderFilter* CEQManager::GetZunHighOrderFilter(int number) const
{
    QMutexLocker lock(&m_mutex);
    for (const auto& f : m_filters[dspOfFilter(number)])
        if (f && f->getNumber() == number)
            return f;
    fail(QStringLiteral("CEQManager::GetZunHighOrderFilter(nr): nr not in list of used biquads."));
}

CZunBiquad* CEQManager::CreateZunBiquad(int number, bool section)
{
    QMutexLocker lock(&m_mutex);
    const int d = dspOfEQ(number);
    for (const auto& b : m_eqs[d])
        if (b && b->getNumber() == number)
            return b;
    EQ_PARAMS p;
    p.number = quint16(number);
    GetEQ(p);
    p.section = section;
    // Its response is computed as it is made.
    auto* biquad = new CZunBiquad(this, p, section);
    if (!section)
        m_eqs[d].append(biquad);
    return biquad;
}

void CEQManager::deleteObjects(int d)
{
    for (const auto& f : m_filters[d])
        delete f.data();
    m_filters[d].clear();
    for (const auto& b : m_eqs[d])
        delete b.data();
    m_eqs[d].clear();
}

void CEQManager::Rebuild()
{
    const int n = m_map->getIntConst(QStringLiteral("Inf_DSP_EQ_AnzSet"));
    const int f = m_map->getIntConst(QStringLiteral("Inf_DSP_Fi_AnzSet"));
    QMutexLocker lock(&m_mutex);
    m_eqCount = n;
    m_filterCount = f;
    for (int d = 0; d < 2; ++d) {
        deleteObjects(d);
        m_freeFilters[d].clear();
        m_freeEQs[d].clear();
        // The EQ records that the DSP's filter records name as sections (what
        // IsEQInHighOrderFilter looks for), gathered as the filters are read rather than
        // read again for every EQ.
        QSet<int> sections;
        for (int m = f * d; m < f * (d + 1); ++m) {
            HO_FILTER_PARAMS p;
            p.number = quint16(m);
            GetHighOrderFilter(p);
            for (quint16 s : p.sections)
                sections.insert(s);
            if (p.sections[0] != HO_FILTER_PARAMS::NoSection) {
                auto* filter = new CZunHighOrderFilter(this, p);
                m_filters[d].append(filter);
                emit signal_NewHighOrderFilter(filter);
            } else {
                m_freeFilters[d].append(m);
            }
        }
        m_available[d] = n;
        for (int e = n * d; e < n * (d + 1); ++e) {
            EQ_PARAMS p;
            p.number = quint16(e);
            GetEQ(p);
            if (sections.contains(e))
                continue;
            if (isActiveEQType(p))
                emit signal_NewEQ(CreateZunBiquad(e, false));
            else
                m_freeEQs[d].append(e);
        }
    }
}

void CEQManager::notifyEQDeleted(int number) { emit signal_EQDeleted(number); }

void CEQManager::notifyHOFDeleted(int number) { emit signal_HOFDeleted(number); }

void CEQManager::refreshEQ(int number)
{
    try {
        if (IsEQUsed(number))
            GetZunBiquad(number)->updateFromDevice();
        else
            notifyEQDeleted(number);
    } catch (const std::exception& e) {
        // A reply for a number that has no object yet (its rebuild is still to come).
        qDebug() << "CEQManager::refreshEQ():" << e.what();
    }
}

void CEQManager::refreshHighOrderFilter(int number, HO_FILTER_PARAMS record)
{
    try {
        if (!IsHighOrderFilterUsed(number)) {
            notifyHOFDeleted(number);
            return;
        }
        CZunHighOrderFilter* filter = GetZunHighOrderFilter(number);
        filter->updateFromDevice();
        if (!linked())
            return;
        const int partnerNumber = (number + m_filterCount) % (2 * m_filterCount);
        if (!IsHighOrderFilterUsed(partnerNumber))
            return;
        QPointer<CZunHighOrderFilter> partner = GetZunHighOrderFilter(partnerNumber);
        if (!partner || *partner == *filter)
            return;
        partner->SetBank((record.bank + 6) % 12);
        partner->SetFrequency(float(record.frequency));
        partner->setPassband(record.passband);
        partner->setCharacteristic(record.characteristic);
        partner->setOrder(record.order);
        partner->setRipple(float(record.ripple));
        // The record carries no bypass state: the partner takes the filter's own.
        partner->setBypass(filter->isBypassed());
        partner->rebuild();
    } catch (const std::exception& e) {
        const QString text = QString::fromStdString(e.what());
        qWarning().noquote() << "CEQManager::refreshHighOrderFilter():" << text;
        emit signal_exception(text, QStringLiteral("ZunControl"));
    }
}

// ---------------------------------------------------------------------------------------
// Operations

int CEQManager::NewEQ(int& slot)
{
    QMutexLocker lock(&m_mutex);
    if (slot < 0 || slot > 11)
        fail(QStringLiteral("CEQManager::NewEQ(): invalid bank number"));
    if (GetNrFreeEQs(slot) <= 0 || GetNrUsedEQsOfChannel(slot) >= MaxEQsPerChannel)
        fail(QStringLiteral("CEQManager::NewEQ(): No free EQ left."));
    return m_freeEQs[dspOfSlot(slot)].takeFirst();
}

int CEQManager::NewHOFilter(int& slot)
{
    QMutexLocker lock(&m_mutex);
    if (slot < 0 || slot > 11)
        fail(QStringLiteral("CEQManager::NewHOFilter(): invalid bank number"));
    QList<int>& free = m_freeFilters[dspOfSlot(slot)];
    if (free.isEmpty())
        fail(QStringLiteral("CEQManager::NewHOFilter(): No free High Order filter left"));
    return free.takeFirst();
}

namespace
{
EQ_PARAMS neutralEQ(quint16 type)
{
    EQ_PARAMS p;
    p.type = type;
    p.frequency = 1000.0;
    p.gain = 0.0;
    p.quality = 4.0;
    p.active = false;
    p.flag = true;
    return p;
}
} // namespace

CZunBiquad* CEQManager::CreateEQ(int& slot, bool& section)
{
    QMutexLocker lock(&m_mutex);
    EQ_PARAMS p = neutralEQ(nr(neutralType));
    p.bank = quint16(slot);
    p.number = quint16(NewEQ(slot));
    p.section = section;
    auto* biquad = new CZunBiquad(this, p, section);
    if (section)
        return biquad;
    m_eqs[dspOfSlot(slot)].append(biquad);
    emit signal_NewEQ(biquad);
    if (linked()) {
        int partnerSlot = (slot + 6) % 12;
        EQ_PARAMS q = neutralEQ(p.type);
        q.bank = quint16(partnerSlot);
        q.number = quint16(NewEQ(partnerSlot));
        auto* partner = new CZunBiquad(this, q, false);
        m_eqs[dspOfSlot(partnerSlot)].append(partner);
        emit signal_NewEQ(partner);
    }
    return biquad;
}

CZunHighOrderFilter* CEQManager::CreateHighOrderFilter(int& slot)
{
    QMutexLocker lock(&m_mutex);
    HO_FILTER_PARAMS p;
    p.bank = quint16(slot);
    p.setDefaults();
    p.number = quint16(NewHOFilter(slot));
    auto* filter = new CZunHighOrderFilter(this, p);
    m_filters[dspOfSlot(slot)].append(filter);
    emit signal_NewHighOrderFilter(filter);
    return filter;
}

QList<QPair<quint16, quint16>> CEQManager::eqWrite(const EQ_PARAMS& p, bool neutral, int number) const
{
    const int d = dspOfSlot(p.bank);
    const quint16 base = eqRecordBase(number);
    const quint16 w0 = quint16(((p.active ? 0 : 1) | (p.flag ? 1 : 0) << 1) << 14 | (p.type & 0x3FFF));
    const quint16 w4 = quint16(p.bank - 6 * d);
    const quint16 w3 = quint16(qint16(truncRounded(double(float(p.gain) / m_stepG), 10)));
    QList<QPair<quint16, quint16>> out{{quint16(base + 4), w4}, {base, w0}};
    if (neutral) {
        const quint16 w2 = quint16(truncRounded(double(float(0.7 + m_stepQ) / m_stepQ), 400));
        out << qMakePair(quint16(base + 2), w2) << qMakePair(quint16(base + 3), quint16(0));
        return out;
    }
    double f = p.frequency;
    if (m_zun->GetFirmwareVersion() >= 1075)
        f = ShelfFrequencyToDevice(p.frequency, p.gain, p.type, m_zun->GetSampleRate());
    const quint16 w1 = quint16(truncRounded(double(float(f) / m_stepF), 10));
    const quint16 w2 = quint16(truncRounded(double(float(p.quality + m_stepQ / 2.0) / m_stepQ), 400));
    out << qMakePair(quint16(base + 1), w1) << qMakePair(quint16(base + 2), w2) << qMakePair(quint16(base + 3), w3);
    return out;
}

void CEQManager::send(const QList<QPair<quint16, quint16>>& words)
{
    CZunMetaCmd meta;
    for (const auto& w : words)
        meta.appendCmd(w.first, w.second);
    m_zun->SendMetaCmd(meta);
}

void CEQManager::SetEQ(EQ_PARAMS& p, bool neutral)
{
    if (p.bank > 11)
        fail(QStringLiteral("CEQManager::SetEQ(): invalid bank number"));
    if (p.number >= 2 * m_eqCount)
        fail(QStringLiteral("CEQManager::SetEQ(): invalid EQ number"));
    double f = p.frequency;
    if (m_zun->GetFirmwareVersion() >= 1075)
        f = ShelfFrequencyToDevice(p.frequency, p.gain, p.type, GetSampleRate());
    if (m_gainRange->Bound(p.gain) != p.gain)
        fail(rangeText("EQ-Gain", p.gain, m_gainRange));
    if (!neutral) {
        // The text names the shown value, not the device's corner.
        if (m_frequencyRange->Bound(f) != f)
            fail(rangeText("Frequency", p.frequency, m_frequencyRange));
        if (!(f < GetSampleRate() / 2.0))
            fail(QStringLiteral("Frequency value of %1 is not below half the sample rate (%2 Hz).")
                     .arg(QString::number(p.frequency, 'g', 6), QString::number(GetSampleRate() / 2.0, 'g', 6)));
        if (m_qualityRange->Bound(p.quality) != p.quality)
            fail(rangeText("Quality", p.quality, m_qualityRange));
    }
    QList<QPair<quint16, quint16>> words = eqWrite(p, neutral, p.number);
    if (linked() && !p.section) {
        const int partner = (p.number + m_eqCount) % (2 * m_eqCount);
        const quint16 from = eqRecordBase(p.number), to = eqRecordBase(partner);
        const int count = words.size();
        for (int i = 0; i < count; ++i)
            words.append({quint16(words[i].first - from + to), words[i].second});
    }
    send(words);
}

void CEQManager::ActivateEQ(EQ_PARAMS& p)
{
    if (p.bank > 11)
        fail(QStringLiteral("CEQManager::ActivateEQ(): invalid bank number"));
    if (m_gainRange->Bound(p.gain) != p.gain)
        fail(rangeText("Gain", p.gain, m_gainRange));
    p.active = true;
    const auto words = eqWrite(p, false, p.number);
    send({words[0], words[1], words[4]});
}

void CEQManager::DeactivateEQ(EQ_PARAMS& p)
{
    if (p.bank > 11)
        fail(QStringLiteral("CEQManager::DeactivateEQ(): invalid bank number"));
    if (m_gainRange->Bound(p.gain) != p.gain)
        fail(rangeText("Gain", p.gain, m_gainRange));
    p.active = false;
    const auto words = eqWrite(p, false, p.number);
    send({words[0], words[1], words[4]});
}

void CEQManager::DeleteEQ(int& n)
{
    if (n < 0 || n >= 2 * m_eqCount)
        fail(QStringLiteral("CEQManager::DeleteEQ(): invalid EQ number"));
    {
        QMutexLocker lock(&m_mutex);
        if (!IsEQUsed(n))
            fail(QStringLiteral("CEQManager::DeleteEQ(): filter is already deleted"));
        m_freeEQs[dspOfEQ(n)].append(n);
    }
    EQ_PARAMS p;
    p.number = quint16(n);
    GetEQ(p);
    const EQ_PARAMS neutral = neutralEQ(nr(neutralType));
    p.type = neutral.type;
    p.frequency = neutral.frequency;
    p.gain = neutral.gain;
    p.quality = neutral.quality;
    p.active = neutral.active;
    p.flag = neutral.flag;
    // Only this record: a linked partner is given back by its own deletion, and a section's
    // partner may still serve the other DSP's filter.
    p.section = true;
    SetEQ(p, false);
}

void CEQManager::DeleteZunBiquad(CZunBiquad* b, bool write)
{
    if (!b)
        return;
    int n = b->getNumber();
    if (n >= 2 * m_eqCount)
        fail(QStringLiteral("CEQManager::DeleteZunBiquad(): invalid EQ number"));
    const bool section = b->isFilterSection();
    {
        QMutexLocker lock(&m_mutex);
        m_eqs[dspOfEQ(n)].removeAll(b);
    }
    b->deleteLater();
    if (write)
        DeleteEQ(n);
    if (linked() && !section) {
        int partner = (n + m_eqCount) % (2 * m_eqCount);
        CZunBiquad* other = nullptr;
        {
            QMutexLocker lock(&m_mutex);
            for (const auto& e : m_eqs[dspOfEQ(partner)])
                if (e && e->getNumber() == partner)
                    other = e;
            if (other)
                m_eqs[dspOfEQ(partner)].removeAll(other);
        }
        if (other)
            other->deleteLater();
        if (write && IsEQUsed(partner))
            DeleteEQ(partner);
    }
}

void CEQManager::SetHighOrderFilter(HO_FILTER_PARAMS& p)
{
    if (p.bank > 11)
        fail(QStringLiteral("CEQManager::SetHighOrderFilter(): invalid bank number"));
    if (p.number >= 2 * m_filterCount)
        fail(QStringLiteral("CEQManager::SetHighOrderFilter(): invalid filter number"));
    if (p.order < 1 || p.order > 10)
        fail(QStringLiteral("CEQManager::SetHighOrderFilter(): %1 is not a valid order. Must be even and between 2 "
                            "and 10")
                 .arg(p.order));
    // A record without sections (a filter being given back) needs no capacity: testing it
    // would make a failed test delete, and so test, without end.
    if (p.sections[0] != HO_FILTER_PARAMS::NoSection && GetNrFreeEQs(p.bank) < p.order / 2) {
        // The record's section EQs go back with it; the object of the freed number goes too.
        int m = p.number;
        for (int i = 4; i >= 0; --i) {
            int s = p.sections[i];
            if (s != HO_FILTER_PARAMS::NoSection && IsEQUsed(s))
                DeleteEQ(s);
        }
        DeleteHOFilter(m);
        {
            QMutexLocker lock(&m_mutex);
            for (auto& list : m_filters)
                for (int i = 0; i < list.size(); ++i)
                    if (list[i] && list[i]->getNumber() == m) {
                        list.takeAt(i)->deleteLater();
                        break;
                    }
        }
        fail(QStringLiteral("CEQManager::SetHighOrderFilter(): maximum biquad capacity reached! Desired order: %1, "
                            "free biquads: %2")
                 .arg(p.order)
                 .arg(GetNrFreeEQs(p.bank)));
    }
    const int d = dspOfSlot(p.bank);
    const quint16 base = filterRecordBase(p.number);
    const quint16 w0 = quint16((p.flag ? 1 : 0) << 15 | (p.passband & 7) << 12 | ((p.bank - 6 * d) & 0xF) << 8 |
                               (p.order & 0xF) << 4 | (p.characteristic & 0xF));
    const quint16 w1 = quint16(truncWhole(p.frequency));
    const quint16 w2 = quint16((p.sections[1] & 0xFF) << 8 | (p.sections[0] & 0xFF));
    const quint16 w3 = quint16((p.sections[3] & 0xFF) << 8 | (p.sections[2] & 0xFF));
    const quint16 w4 = quint16((truncWhole(p.ripple * 10.0) & 0xFF) << 8 | (p.sections[4] & 0xFF));
    send({{base, w0}, {quint16(base + 1), w1}, {quint16(base + 2), w2}, {quint16(base + 3), w3},
          {quint16(base + 4), w4}});
}

void CEQManager::DeleteHOFilter(int& m)
{
    if (m < 0 || m >= 2 * m_filterCount)
        fail(QStringLiteral("CEQManager::DeleteHighOrderFilter(): invalid filter number"));
    if (!IsHighOrderFilterUsed(m))
        fail(QStringLiteral("CEQManager::DeleteHOFilter(): filter is already deleted"));
    HO_FILTER_PARAMS p;
    p.number = quint16(m);
    GetHighOrderFilter(p);
    for (int i = 4; i >= 0; --i) {
        int s = p.sections[i];
        if (s == HO_FILTER_PARAMS::NoSection)
            continue;
        if (IsEQUsed(s))
            DeleteEQ(s);
        p.sections[i] = HO_FILTER_PARAMS::NoSection;
    }
    // The record may name the other DSP's channel after a damaged reply; it is written
    // back on its own DSP.
    if (p.bank > 11)
        p.bank = quint16(6 * dspOfFilter(m));
    if (p.order < 1 || p.order > 10)
        p.order = 1;
    SetHighOrderFilter(p);
    QMutexLocker lock(&m_mutex);
    m_freeFilters[dspOfFilter(m)].append(m);
}

void CEQManager::DeleteHighOrderFilter(CZunHighOrderFilter* f, bool write)
{
    if (!f)
        return;
    int m = f->getNumber();
    if (m >= 2 * m_filterCount)
        fail(QStringLiteral("CEQManager::DeleteHighOrderFilter(): invalid filter number"));
    auto take = [this](int number) -> CZunHighOrderFilter* {
        QMutexLocker lock(&m_mutex);
        for (auto& list : m_filters)
            for (int i = 0; i < list.size(); ++i)
                if (list[i] && list[i]->getNumber() == number)
                    return list.takeAt(i).data();
        return nullptr;
    };
    // The sections the object took may not have reached the image yet: they go back too.
    auto giveBackSections = [this](CZunHighOrderFilter* filter) {
        for (CZunBiquad* s : filter->sections()) {
            int n = s->getNumber();
            if (IsEQUsed(n))
                DeleteEQ(n);
        }
    };
    take(m);
    if (write)
        giveBackSections(f);
    f->deleteLater();
    if (write)
        DeleteHOFilter(m);
    if (linked()) {
        int partner = (m + m_filterCount) % (2 * m_filterCount);
        CZunHighOrderFilter* other = take(partner);
        if (other) {
            if (write)
                giveBackSections(other);
            other->deleteLater();
        }
        if (write && IsHighOrderFilterUsed(partner))
            DeleteHOFilter(partner);
    }
}
