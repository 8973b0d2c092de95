#pragma once

#include "ZunLongOperation.h"

#include <QtGlobal>

class ZunOperations;

// One long operation of a processor, as a transaction: what it changes for its time (who
// reports a lost link, the processor's keep-alive) is taken when it begins and given back in
// finish(), which every end reaches once, whatever the end; the operations list names it
// while it runs. Dropped unfinished (its window closed, the program quits) it ends as quit.
// A program restart or a kill runs no code: the processor takes its normal keep-alive at
// the next connection, and a record on disk (a collection's backup) is found at the start.
// finish() may be called from any thread.
class ZunOperation
{
public:
    enum class Outcome { Done, Refused, LinkLost, TimedOut, Quit };
    // What it takes for its time.
    enum Take {
        LossReport = 1,   // its own message tells a lost link: the link's box goes to the log
        KeepAlive = 2,    // the processor's keep-alive is off; back when the last holder ends
        EndsWithLink = 4, // no answer comes over a lost link: it ends there
        Unlisted = 8,     // a step of another operation, which the lists name instead
    };

    ~ZunOperation();
    ZunLongOperation kind() const { return m_kind; }
    int takes() const { return m_takes; }
    bool isRunning() const;
    void finish(Outcome outcome);

private:
    friend class ZunOperations;
    ZunOperation(ZunOperations* registry, ZunLongOperation kind, int takes);
    Q_DISABLE_COPY(ZunOperation)

    ZunOperations* m_registry; // null once finished (under the registry's lock)
    int m_journalId = 0;       // its entry in the registry's journal; 0: none
    const ZunLongOperation m_kind;
    const int m_takes;
};
