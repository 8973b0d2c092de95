#pragma once

#include <QMetaType>
#include <QtGlobal>

// A delay in seconds; shown to the user in milliseconds.
class CZunDelay
{
public:
    CZunDelay() = default;
    CZunDelay(quint32 samples, double sampleRate) : m_seconds(samples / sampleRate) {}

    static CZunDelay fromMilliseconds(double ms) { return fromSeconds(ms / 1000.0); }
    static CZunDelay fromSeconds(double s)
    {
        CZunDelay d;
        d.m_seconds = s;
        return d;
    }

    double seconds() const { return m_seconds; }
    double milliseconds() const { return m_seconds * 1000.0; }

    CZunDelay operator+(const CZunDelay& o) const { return fromSeconds(m_seconds + o.m_seconds); }
    // Never negative: a larger delay taken from a smaller one leaves nothing.
    CZunDelay operator-(const CZunDelay& o) const
    {
        const double d = m_seconds - o.m_seconds;
        return fromSeconds(d > 0.0 ? d : 0.0);
    }
    CZunDelay operator/(const quint16& n) const { return fromSeconds(m_seconds / n); }
    bool operator==(const CZunDelay& o) const { return m_seconds == o.m_seconds; }
    bool operator!=(const CZunDelay& o) const { return !(*this == o); }

private:
    double m_seconds = 0.0;
};

Q_DECLARE_METATYPE(CZunDelay)
