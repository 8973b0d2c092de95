#pragma once

#include "FilterLimiterEWS.h"
#include "ZunC.h"

#include <QSharedPointer>
#include <QString>

#include <functional>

class CZun;
class ZunOperation;
class ZunTimedSteps;

// A routing configuration on its way to the processor: the master gains down, the defaults
// unless kept, the clock, the routing words, the external clock, then the FIR sets with their
// copy modes and the final re-initialisation, each step after its pause, run from the event
// loop. One at a time: a second is refused while the first is still being sent.
class ZunRoutingConfiguration
{
public:
    // What the operator chose besides the routing words.
    struct Choice
    {
        int clock = 0;
        int extClock = 0;
        int multipath1 = 0;
        int multipath2 = 0;
        int crossover = 0; // 0: pass-through sets at the clock's rate, else the files below
        QString firFile1;
        QString firFile2;
        ZunC::CopyFIRCoeffsMode mode1 = ZunC::NoCopies;
        ZunC::CopyFIRCoeffsMode mode2 = ZunC::NoCopies;
        bool keepSettings = false;
    };

    // The steps belong to zun (a child object) and run in its thread.
    explicit ZunRoutingConfiguration(CZun& zun);

    // Queues the configuration with routingWords as its routing step and starts it; throws
    // while the last one is still being sent.
    void apply(const Choice& choice, std::function<void()> routingWords);
    bool isRunning() const;
    // They end with signal_Finished.
    ZunTimedSteps* steps() const { return m_steps; }
    // The pause between steps (100 ms; tests shorten it).
    void setPauseMs(int ms) { m_pauseMs = ms; }
    // The master gains the configuration runs under, in dB.
    static constexpr double MasterCeiling = -40.0;

private:
    void addHead(const Choice& choice);
    void addTail(const Choice& choice);
    void sendSets(const Choice& choice);
    // A pass-through set for a DSP; when keeping the settings it carries the limiter values
    // of the set the DSP runs now.
    QShPtrFLE thruSetFor(int dsp, double rate, int multipath, bool keepSettings) const;
    // One pause, the keep-alive's time-out off again after it.
    void addPause();

    CZun& m_zun;
    ZunTimedSteps* m_steps;
    int m_pauseMs = 100;
    QSharedPointer<ZunOperation> m_rest; // the keep-alive, off until the last step
};
