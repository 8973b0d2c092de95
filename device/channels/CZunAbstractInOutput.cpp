#include "CZunAbstractInOutput.h"

#include "CEQManager.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"

#include <cmath>
#include <stdexcept>

CZunAbstractInOutput::CZunAbstractInOutput(CZun* zun, ZunC::AnalogOutputs output)
    : CZunLinkedFrequencyResponse(512, 20.0, 20000.0),
      m_identity(int(output)),
      m_isOutput(true),
      m_slot(quint16(int(output) >= 0 && int(output) < 4 ? int(output)
                     : int(output) >= 4 && int(output) < 8 ? int(output) + 2
                                                            : int(NoSlot))),
      m_zun(zun)
{
    connectManager();
}

CZunAbstractInOutput::CZunAbstractInOutput(CZun* zun, int source)
    : CZunLinkedFrequencyResponse(512, 20.0, 20000.0), m_identity(source), m_zun(zun)
{
    if (zun && zun->GetRoutingManager())
        m_slot = quint16(zun->GetRoutingManager()->GetChannelSlotOfSource(source));
    connectManager();
}

CZunAbstractInOutput::~CZunAbstractInOutput() = default;

void CZunAbstractInOutput::connectManager()
{
    if (!m_zun || !m_zun->GetEQManager())
        return;
    connect(m_zun->GetEQManager(), &CEQManager::signal_NewEQ, this, &CZunAbstractInOutput::notifyNewEQ);
    connect(m_zun->GetEQManager(), &CEQManager::signal_NewHighOrderFilter, this,
            &CZunAbstractInOutput::notifyNewHighOrderFilter);
}

double CZunAbstractInOutput::GetSampleRate() const { return m_zun->GetSampleRate(); }

void CZunAbstractInOutput::applyGain(double dB, bool inverted)
{
    const double g = std::pow(10.0, dB / 20.0);
    setGainDelay(inverted ? -g : g, 0.0);
}

void CZunAbstractInOutput::changed()
{
    recalculate();
    emit signal_Changed(this);
}

void CZunAbstractInOutput::checkGain(double gain, bool fullStop) const
{
    const CZunParam* range = m_zun->GetChannelGainParam();
    if (!range || range->Bound(gain) == gain)
        return;
    QString text = QStringLiteral("Gain value of %1 is out of bounds. Valid values are between %2 and %3")
                       .arg(QString::number(gain, 'g', 6), QString::number(range->GetMin(), 'g', 6),
                            QString::number(range->GetMax(), 'g', 6));
    if (fullStop)
        text += QLatin1Char('.');
    throw std::logic_error(text.toStdString());
}

// --- EQs and filters of the channel -------------------------------------------------

CZunBiquad* CZunAbstractInOutput::NewEQ()
{
    int slot = m_slot;
    bool section = false;
    return m_zun->GetEQManager()->CreateEQ(slot, section);
}

CZunHighOrderFilter* CZunAbstractInOutput::NewHighOrderFilter()
{
    CEQManager* manager = m_zun->GetEQManager();
    // A filter whose sections do not fit is given back at once (with the sections it got):
    // the processor never holds it, so neither does the channel.
    auto create = [manager](int slot) {
        QPointer<CZunHighOrderFilter> filter = manager->CreateHighOrderFilter(slot);
        try {
            filter->rebuild();
        } catch (...) {
            if (filter)
                manager->DeleteHighOrderFilter(filter, true);
            throw;
        }
        return filter.data();
    };
    CZunHighOrderFilter* filter = create(m_slot);
    if (m_zun->GetStatusBuffer()->isLinked())
        create((m_slot + 6) % 12);
    return filter;
}

QList<QPointer<CZunBiquad>> CZunAbstractInOutput::GetEQList() const
{
    return IsValidSlot(m_slot) ? m_zun->GetEQManager()->GetEQsOfChannel(m_slot) : QList<QPointer<CZunBiquad>>();
}

QList<QPointer<CZunHighOrderFilter>> CZunAbstractInOutput::GetHighOrderFilterList() const
{
    return IsValidSlot(m_slot) ? m_zun->GetEQManager()->GetHighOrderFiltersOfChannel(m_slot)
                               : QList<QPointer<CZunHighOrderFilter>>();
}

void CZunAbstractInOutput::RemoveAllEQs()
{
    for (const QPointer<CZunBiquad>& b : GetEQList())
        if (b) // a linked partner taken along may have gone already
            m_zun->GetEQManager()->DeleteZunBiquad(b, true);
}

void CZunAbstractInOutput::RemoveAllHighOrderFilters()
{
    for (const QPointer<CZunHighOrderFilter>& f : GetHighOrderFilterList())
        if (f)
            m_zun->GetEQManager()->DeleteHighOrderFilter(f, true);
}

void CZunAbstractInOutput::allocateNewZunBiquad(EQ_PARAMS p)
{
    int slot = m_slot;
    bool section = false;
    CZunBiquad* b = m_zun->GetEQManager()->CreateEQ(slot, section);
    b->setType(p.type);
    b->setFrequency(float(p.frequency));
    b->setGain(float(p.gain));
    b->setQuality(float(p.quality));
    b->setBypass(!p.active);
    b->writeToDevice(false);
}

void CZunAbstractInOutput::allocateNewHighOrderFilter(HO_FILTER_PARAMS p)
{
    CEQManager* manager = m_zun->GetEQManager();
    auto apply = [&p](CZunHighOrderFilter* f) {
        f->setPassband(p.passband);
        f->setCharacteristic(p.characteristic);
        f->setOrder(p.order);
        f->SetFrequency(float(p.frequency));
        f->setRipple(float(p.ripple));
        f->setBypass(!p.active);
        f->rebuild();
    };
    int slot = m_slot;
    apply(manager->CreateHighOrderFilter(slot));
    if (m_zun->GetStatusBuffer()->isLinked()) {
        int partnerSlot = (m_slot + 6) % 12;
        apply(manager->CreateHighOrderFilter(partnerSlot));
    }
}

// --- announcements of the EQ manager --------------------------------------------------

bool CZunAbstractInOutput::ownsSlot(quint16 bank)
{
    if (bank != m_slot)
        return false;
    CRoutingManager* routing = m_zun->GetRoutingManager();
    if (!routing)
        return false;
    if (!m_isOutput) {
        m_slot = quint16(routing->GetChannelSlotOfSource(m_identity));
        return static_cast<CZunAbstractInOutput*>(routing->GetInputOfSlot(m_slot)) == this;
    }
    return static_cast<CZunAbstractInOutput*>(routing->GetOutputOfSlot(m_slot)) == this;
}

void CZunAbstractInOutput::notifyNewEQ(CZunBiquad* biquad)
{
    if (!biquad || !ownsSlot(biquad->getBank()))
        return;
    if (m_zun->GetEQManager()->IsEQObjectInHighOrderFilter(biquad))
        return;
    connect(biquad, &CZunBiquad::signal_Changed, this, &CZunAbstractInOutput::notifyEQChanged, Qt::UniqueConnection);
    connect(biquad, &QObject::destroyed, this, &CZunAbstractInOutput::notifyEQToBeDeleted, Qt::UniqueConnection);
    addResponse(biquad);
    changed();
    emit newEQ(biquad);
}

void CZunAbstractInOutput::notifyNewHighOrderFilter(CZunHighOrderFilter* filter)
{
    if (!filter || !ownsSlot(filter->getBank()))
        return;
    connect(filter, &CZunHighOrderFilter::signal_Changed, this, &CZunAbstractInOutput::notifyHighOrderFilterChanged,
            Qt::UniqueConnection);
    connect(filter, &QObject::destroyed, this, &CZunAbstractInOutput::notifyHighOrderFilterToBeDeleted,
            Qt::UniqueConnection);
    addResponse(filter);
    changed();
    emit newFilter(filter);
}

void CZunAbstractInOutput::notifyEQChanged(CZunBiquad*) { changed(); }

void CZunAbstractInOutput::notifyHighOrderFilterChanged(CZunHighOrderFilter*) { changed(); }

void CZunAbstractInOutput::notify_InOutputChanged(CZunAbstractInOutput*) { changed(); }

void CZunAbstractInOutput::notifyEQToBeDeleted(QObject* object)
{
    // From destroyed() the object is no longer a biquad: its member entry drops out by
    // itself (guarded), and the connections went with it.
    auto* biquad = qobject_cast<CZunBiquad*>(object);
    if (biquad) {
        disconnect(biquad, &CZunBiquad::signal_Changed, this, &CZunAbstractInOutput::notifyEQChanged);
        disconnect(biquad, &QObject::destroyed, this, &CZunAbstractInOutput::notifyEQToBeDeleted);
        removeResponse(biquad);
    }
    changed();
    emit EQToBeDeleted(biquad);
}

void CZunAbstractInOutput::notifyHighOrderFilterToBeDeleted(QObject* object)
{
    auto* filter = qobject_cast<CZunHighOrderFilter*>(object);
    if (filter) {
        disconnect(filter, &CZunHighOrderFilter::signal_Changed, this,
                   &CZunAbstractInOutput::notifyHighOrderFilterChanged);
        disconnect(filter, &QObject::destroyed, this, &CZunAbstractInOutput::notifyHighOrderFilterToBeDeleted);
        removeResponse(filter);
    }
    changed();
    emit filterToBeDeleted(filter);
}

bool CZunAbstractInOutput::masterMutedOnDsp(int dsp) const
{
    return m_zun->IsAllMuted(dsp == 1 && m_zun->GetHardwareInfo().isDoubleBoard() ? 2 : 1);
}
