#pragma once

#include "CZunAbstractFrequencyResponse.h"

#include <QList>
#include <QPointer>
#include <QRecursiveMutex>

// A response that is the product of its member responses, times its own gain and delay:
//   H(f) = gain x e^(-j 2 pi f delay) x product of the members' H(f).
// In dB and degrees that is a sum: 20 log10|gain| plus the members' magnitudes, and the
// members' phases plus 180 for a negative gain minus 360 f delay (delay in seconds), wrapped
// to (-180, 180]. Members are guarded: one that is destroyed simply drops out. A member
// whose grid differs from this response's is ignored.
//
// The member list is behind a recursive mutex (recalculate may run while a member's
// dataChanged arrives from within addResponse). Owners that are about to change many
// members set suspendRecalculation, and recalculate once when they clear it.
class CZunLinkedFrequencyResponse : public CZunAbstractFrequencyResponse
{
    Q_OBJECT
public:
    explicit CZunLinkedFrequencyResponse(int points = DefaultPoints, double start = DefaultStart,
                                         double end = DefaultEnd, QObject* parent = nullptr);
    ~CZunLinkedFrequencyResponse() override;

    void addResponse(CZunAbstractFrequencyResponse* response);
    void removeResponse(CZunAbstractFrequencyResponse* response);
    bool hasResponse(const CZunAbstractFrequencyResponse* response) const;
    int responseCount() const;

    // Recalculates only when a value differs from the stored one (fuzzy comparison).
    void setGainDelay(double gain, double delay);
    double gain() const { return m_gain; }
    double delay() const { return m_delay; }

    // While set, recalculate returns at once without work.
    bool suspendRecalculation = false;

public slots:
    void recalculate() override;

private slots:
    void on_MemberDestroyed();

private:
    mutable QRecursiveMutex m_mutex;
    QList<QPointer<CZunAbstractFrequencyResponse>> m_members;
    double m_gain = 1.0;
    double m_delay = 0.0;
};
