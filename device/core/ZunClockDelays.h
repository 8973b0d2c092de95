#pragma once

#include "CZunDelay.h"

#include <QList>
#include <QString>

class CZun;

// The delays a clock change would leave beyond the program's own limits at the new rate,
// and the words that bring each to its limit. A delay is held as a sample count while the
// delay memory is a number of samples: a higher rate leaves less time in it (a channel at
// 614 ms at 48 kHz, where 341.333 ms is the limit at 96 kHz). Kept settings keep every
// other delay as it is.
class ZunClockDelays
{
public:
    struct Change
    {
        QString what;   // "output 1", "input A", "master DSP 1"
        QString command; // its command name
        quint16 raw = 0; // the word sent
        CZunDelay from, to;
    };

    // zun's delays as they are, at rate.
    ZunClockDelays(const CZun& zun, double rate);

    const QList<Change>& changes() const { return m_changes; }
    // For the operator, one line each ("output 1: 614 ms to 341.333 ms"); empty without changes.
    QString description() const;

private:
    QList<Change> m_changes;
};
