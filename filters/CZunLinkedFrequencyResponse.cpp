#include "CZunLinkedFrequencyResponse.h"
#include "CZunResponseMath.h"

#include <QMutexLocker>
#include <QtMath>

#include <cmath>

CZunLinkedFrequencyResponse::CZunLinkedFrequencyResponse(int points, double start, double end, QObject* parent)
    : CZunAbstractFrequencyResponse(points, start, end, parent)
{
}

CZunLinkedFrequencyResponse::~CZunLinkedFrequencyResponse() = default;

void CZunLinkedFrequencyResponse::addResponse(CZunAbstractFrequencyResponse* response)
{
    if (!response || response == this)
        return;
    {
        QMutexLocker lock(&m_mutex);
        for (const auto& m : m_members)
            if (m == response)
                return;
        m_members.append(response);
        connect(response, &CZunAbstractFrequencyResponse::dataChanged, this,
                &CZunLinkedFrequencyResponse::recalculate, Qt::UniqueConnection);
        connect(response, &QObject::destroyed, this, &CZunLinkedFrequencyResponse::on_MemberDestroyed,
                Qt::UniqueConnection);
    }
    recalculate();
}

void CZunLinkedFrequencyResponse::removeResponse(CZunAbstractFrequencyResponse* response)
{
    {
        QMutexLocker lock(&m_mutex);
        for (int i = m_members.size() - 1; i >= 0; --i)
            if (m_members[i].isNull() || m_members[i] == response)
                m_members.removeAt(i);
        if (response) {
            disconnect(response, &CZunAbstractFrequencyResponse::dataChanged, this,
                       &CZunLinkedFrequencyResponse::recalculate);
            disconnect(response, &QObject::destroyed, this, &CZunLinkedFrequencyResponse::on_MemberDestroyed);
        }
    }
    recalculate();
}

bool CZunLinkedFrequencyResponse::hasResponse(const CZunAbstractFrequencyResponse* response) const
{
    QMutexLocker lock(&m_mutex);
    for (const auto& m : m_members)
        if (m == response)
            return true;
    return false;
}

int CZunLinkedFrequencyResponse::responseCount() const
{
    QMutexLocker lock(&m_mutex);
    int n = 0;
    for (const auto& m : m_members)
        n += m.isNull() ? 0 : 1;
    return n;
}

void CZunLinkedFrequencyResponse::setGainDelay(double gain, double delay)
{
    // qFuzzyCompare fails against 0.0; compare with 1 added to both sides instead.
    const bool sameGain = qFuzzyCompare(1.0 + gain, 1.0 + m_gain);
    const bool sameDelay = qFuzzyCompare(1.0 + delay, 1.0 + m_delay);
    if (sameGain && sameDelay)
        return;
    m_gain = gain;
    m_delay = delay;
    recalculate();
}

void CZunLinkedFrequencyResponse::on_MemberDestroyed()
{
    {
        QMutexLocker lock(&m_mutex);
        for (int i = m_members.size() - 1; i >= 0; --i)
            if (m_members[i].isNull())
                m_members.removeAt(i);
    }
    recalculate();
}

void CZunLinkedFrequencyResponse::recalculate()
{
    if (suspendRecalculation)
        return;
    {
        QMutexLocker lock(&m_mutex);
        const int n = points();
        double* magnitude = m_magnitude->data();
        double* phase = m_phase->data();

        const double gainDb = 10.0 * CZunResponseMath::log10(m_gain * m_gain);
        const double gainPhase = m_gain < 0.0 ? 180.0 : 0.0;
        for (int i = 0; i < n; ++i) {
            magnitude[i] = gainDb;
            phase[i] = gainPhase;
        }
        if (m_delay != 0.0) {
            const double* f = m_frequencies->constData();
            for (int i = 0; i < n; ++i)
                phase[i] = CZunResponseMath::wrapDegrees(gainPhase - 360.0 * f[i] * m_delay);
        }
        for (const auto& member : m_members) {
            if (member.isNull())
                continue;
            const auto memberMagnitude = member->getMagnitude();
            const auto memberPhase = member->getPhase();
            if (memberMagnitude->size() != n || memberPhase->size() != n ||
                member->grid().start() != grid().start() || member->grid().end() != grid().end())
                continue;
            CZunResponseMath::accumulate(memberMagnitude->constData(), memberPhase->constData(), n, magnitude,
                                         phase);
        }
    }
    emit dataChanged();
}
