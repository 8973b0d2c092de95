#include "CZunHighOrderFilter.h"
#include "CZunBiquad.h"

#include <QDebug>

#include <cmath>
#include <stdexcept>

namespace {

// Sets the suspend flag for a batch of changes and recalculates once at the end, also when
// the batch ends in an exception.
class RecalculationBatch
{
public:
    explicit RecalculationBatch(CZunLinkedFrequencyResponse* response) : m_response(response)
    {
        m_response->suspendRecalculation = true;
    }
    ~RecalculationBatch()
    {
        m_response->suspendRecalculation = false;
        m_response->recalculate();
    }

private:
    CZunLinkedFrequencyResponse* m_response;
};

} // namespace

CZunHighOrderFilter::CZunHighOrderFilter(CEQManagerInterface* manager, const HO_FILTER_PARAMS& params,
                                         QObject* parent)
    : CZunLinkedFrequencyResponse(DefaultPoints, DefaultStart, DefaultEnd, parent),
      m_manager(manager),
      m_number(params.number),
      m_bank(params.bank),
      m_passband(params.passband),
      m_characteristic(params.characteristic),
      m_order(params.order),
      m_frequency(params.frequency),
      m_ripple(params.ripple < CZunHighOrderDesign::MinimumRipple ? CZunHighOrderDesign::MinimumRipple
                                                                   : params.ripple),
      m_flag(params.flag)
{
    setDefaultName(QString("X-Over %1").arg(m_number));
    RecalculationBatch batch(this);
    takeSectionsFromDevice(params);
}

CZunHighOrderFilter::~CZunHighOrderFilter()
{
    suspendRecalculation = true;
    for (const auto& s : m_sections) {
        if (s) {
            disconnect(s, nullptr, this, nullptr);
            delete s.data();
        }
    }
}

Qt::ItemFlags CZunHighOrderFilter::characteristicFlags() const
{
    return m_passband == CZunHighOrderDesign::AllPass ? Qt::NoItemFlags
                                                      : (Qt::ItemIsSelectable | Qt::ItemIsEditable);
}

Qt::ItemFlags CZunHighOrderFilter::rippleFlags() const
{
    return m_characteristic == CZunHighOrderDesign::Chebyshev ? (Qt::ItemIsSelectable | Qt::ItemIsEditable)
                                                              : Qt::NoItemFlags;
}

QList<CZunBiquad*> CZunHighOrderFilter::sections() const
{
    QList<CZunBiquad*> list;
    for (const auto& s : m_sections)
        if (s)
            list.append(s.data());
    return list;
}

bool CZunHighOrderFilter::findSection(int number) const
{
    for (const auto& s : m_sections)
        if (s && s->getNumber() == number)
            return true;
    return false;
}

HO_FILTER_PARAMS CZunHighOrderFilter::params() const
{
    HO_FILTER_PARAMS p;
    p.number = m_number;
    p.bank = m_bank;
    p.active = !m_bypass;
    p.flag = m_flag;
    p.passband = m_passband;
    p.characteristic = m_characteristic;
    p.frequency = m_frequency;
    p.order = m_order;
    p.ripple = m_ripple;
    const QList<CZunBiquad*> list = sections();
    for (int i = 0; i < CZunHighOrderDesign::MaximumSections; ++i)
        p.sections[i] = i < list.size() ? list[i]->getNumber() : HO_FILTER_PARAMS::NoSection;
    return p;
}

void CZunHighOrderFilter::changed()
{
    emit signal_Changed(this);
}

void CZunHighOrderFilter::setPassband(quint16 passband)
{
    const quint16 old = m_passband;
    m_passband = passband;
    if (passband == CZunHighOrderDesign::AllPass)
        m_characteristic = CZunHighOrderDesign::AllPassCharacteristic;
    else if (old == CZunHighOrderDesign::AllPass)
        m_characteristic = CZunHighOrderDesign::Butterworth;
    changed();
}

void CZunHighOrderFilter::setCharacteristic(quint16 characteristic)
{
    m_characteristic = characteristic;
    changed();
}

void CZunHighOrderFilter::setOrder(quint16 order)
{
    m_order = order;
    changed();
}

void CZunHighOrderFilter::SetFrequency(float frequency)
{
    if (m_manager) {
        const auto limits = m_manager->GetEQFrequencyLimits();
        if (!(frequency >= float(limits.minimum) && frequency <= float(limits.maximum)))
            throw std::logic_error(("CZunHighOrderFilter::SetFrequency(): frequency value of " +
                                    QString::number(double(frequency)) +
                                    " is out of bounds. Valid values are between " +
                                    QString::number(limits.minimum) + " and " + QString::number(limits.maximum))
                                       .toStdString());
    }
    // The sections get their own frequencies, derived from this corner, at the next rebuild.
    m_frequency = frequency;
    changed();
}

void CZunHighOrderFilter::setRipple(float ripple)
{
    m_ripple = (ripple <= CZunHighOrderDesign::MinimumRipple || std::isnan(ripple))
                   ? CZunHighOrderDesign::MinimumRipple
                   : double(ripple);
    changed();
}

void CZunHighOrderFilter::SetBank(int bank)
{
    if (bank < 0 || bank > 11)
        throw std::logic_error(("CZunHighOrderFilter::SetBank(): invalid bank nr: " + QString::number(bank) +
                                ". Valid values are between " + QString::number(0) + " and " + QString::number(11))
                                   .toStdString());
    m_bank = quint16(bank);
    changed();
}

void CZunHighOrderFilter::setBypass(bool bypass)
{
    m_bypass = bypass;
    {
        RecalculationBatch batch(this);
        for (const auto& s : m_sections)
            if (s)
                s->setBypass(bypass);
    }
    changed();
}

void CZunHighOrderFilter::adoptSection(CZunBiquad* section)
{
    section->setParent(this);
    m_sections.append(section);
    addResponse(section);
}

void CZunHighOrderFilter::dropSection(CZunBiquad* section)
{
    removeResponse(section);
    m_sections.removeAll(section);
}

void CZunHighOrderFilter::dropNullSections()
{
    m_sections.removeAll(QPointer<CZunBiquad>());
}

void CZunHighOrderFilter::takeSectionsFromDevice(const HO_FILTER_PARAMS& params)
{
    if (!m_manager)
        return;
    const int count = qMin<int>(CZunHighOrderDesign::sectionCount(params.order), CZunHighOrderDesign::MaximumSections);
    for (int i = 0; i < CZunHighOrderDesign::MaximumSections; ++i) {
        const quint16 number = params.sections[i];
        if (number == HO_FILTER_PARAMS::NoSection || i >= count)
            continue;
        try {
            if (CZunBiquad* section = m_manager->CreateZunBiquad(number, true))
                adoptSection(section);
        } catch (const std::logic_error& e) {
            // A damaged record must not take the whole filter list down with it.
            qWarning() << "CZunHighOrderFilter: section" << number << "of filter" << m_number
                       << "is not usable:" << e.what();
        }
    }
    const QList<CZunBiquad*> list = sections();
    if (!list.isEmpty()) {
        // The record keeps no bypass state of its own; the sections carry it.
        m_bypass = true;
        for (CZunBiquad* s : list)
            m_bypass = m_bypass && s->isBypassed();
    }
}

void CZunHighOrderFilter::rebuild()
{
    if (!m_manager)
        return;
    // Checked before anything reaches the device: the record cannot hold another order.
    if (m_order < CZunHighOrderDesign::MinimumOrder || m_order > CZunHighOrderDesign::MaximumOrder)
        throw std::logic_error(QString("CZunHighOrderFilter::rebuild(): invalid order: %1. Valid values are "
                                       "between %2 and %3")
                                   .arg(m_order)
                                   .arg(CZunHighOrderDesign::MinimumOrder)
                                   .arg(CZunHighOrderDesign::MaximumOrder)
                                   .toStdString());
    {
        RecalculationBatch batch(this);
        dropNullSections();
        // Section EQs come from the pool of the DSP that serves the channel (slots 0-5 DSP 0,
        // 6-11 DSP 1); after a move to the other DSP's slots they are given back and taken
        // anew there.
        const bool secondDsp = m_bank > 5;
        for (CZunBiquad* biquad : sections()) {
            if ((biquad->getBank() > 5) != secondDsp) {
                dropSection(biquad);
                m_manager->DeleteZunBiquad(biquad, true);
            }
        }
        const QVector<CZunHighOrderDesign::Section> design =
            CZunHighOrderDesign::design(m_passband, m_characteristic, m_order, m_frequency, m_ripple,
                                        m_manager->GetSampleRate());

        QList<CZunBiquad*> taken;
        try {
            while (m_sections.size() < design.size()) {
                int slot = m_bank;
                bool section = true;
                CZunBiquad* biquad = m_manager->CreateEQ(slot, section);
                if (!biquad)
                    throw std::logic_error("CZunHighOrderFilter::rebuild(): the EQ manager gave no section EQ");
                adoptSection(biquad);
                taken.append(biquad);
            }
        } catch (const std::logic_error&) {
            // Nothing of this design reached the device: the EQs taken for it go back to the
            // pool rather than stay held by a filter that does not use them.
            for (CZunBiquad* biquad : taken) {
                dropSection(biquad);
                m_manager->DeleteZunBiquad(biquad, true);
            }
            throw;
        }
        while (m_sections.size() > design.size()) {
            CZunBiquad* biquad = m_sections.last();
            dropSection(biquad);
            m_manager->DeleteZunBiquad(biquad, true);
        }

        for (int i = 0; i < design.size(); ++i) {
            CZunBiquad* biquad = m_sections[i];
            biquad->setDesign(design[i].type, design[i].frequency, design[i].quality, m_bank);
            biquad->setBypassSilently(m_bypass);
            biquad->recalculate();
            biquad->writeToDevice(false);
        }
        HO_FILTER_PARAMS record = params();
        m_manager->SetHighOrderFilter(record);
    }
    changed();
}

void CZunHighOrderFilter::updateFromDevice()
{
    if (!m_manager)
        return;
    HO_FILTER_PARAMS p;
    p.number = m_number;
    m_manager->GetHighOrderFilter(p);
    m_bank = p.bank;
    m_flag = p.flag;
    m_passband = p.passband;
    m_characteristic = p.characteristic;
    m_order = p.order;
    m_frequency = p.frequency;
    m_ripple = p.ripple < CZunHighOrderDesign::MinimumRipple ? CZunHighOrderDesign::MinimumRipple : p.ripple;

    {
        RecalculationBatch batch(this);
        for (const auto& s : m_sections) {
            if (!s)
                continue;
            CZunBiquad* old = s.data();
            removeResponse(old);
            disconnect(old, nullptr, this, nullptr);
            old->deleteLater();
        }
        m_sections.clear();
        takeSectionsFromDevice(p);
    }

    auto text = [](auto lookup) {
        try {
            return lookup();
        } catch (const std::logic_error&) {
            return QString();
        }
    };
    const QString type =
        text([&] { return m_manager->GetStringForHighOrderFilterTypeSelection(m_passband, true); });
    const QString characteristic =
        m_passband == CZunHighOrderDesign::AllPass
            ? QString()
            : text([&] { return m_manager->GetStringForHighOrderFilterCharacterisitcSelection(m_characteristic, true); });
    QStringList parts;
    for (const QString& part : {type, characteristic, QString("%1dB").arg(6 * m_order), QString::number(m_frequency)})
        if (!part.isEmpty())
            parts << part;
    SetName(parts.join(' '));
    changed();
}

bool CZunHighOrderFilter::operator==(const CZunHighOrderFilter& other) const
{
    return qFuzzyCompare(m_frequency, other.m_frequency) && m_passband == other.m_passband &&
           m_characteristic == other.m_characteristic && m_order == other.m_order &&
           qFuzzyCompare(m_ripple, other.m_ripple) && m_bypass == other.m_bypass;
}
