#pragma once

// Measures how long the GUI thread stays away from its event loop: a precise 1 ms timer
// runs while the probe is armed, and the longest gap between two of its ticks (less the
// millisecond itself) is the worst stall. Arm it before an operation starts; an operation
// that blocks the thread (also one run directly by the test, as a click is) delays the
// next tick by as long as it blocks. Waiting in the event loop (QTest::qWait, QTRY_*)
// lets it tick. The figure is printed by the tests, never asserted.
//
// Beside the wall time, the thread's own CPU time of each gap (its CPU clock): on a loaded
// machine the thread also waits off the CPU, which is the machine's time, not the program's.
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <ctime>

class ZunStallProbe
{
public:
    ZunStallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        m_worstMs = 0;
        m_worstCpuUs = 0;
        m_clock.start();
        m_last = 0;
        m_cpuLastUs = threadCpuUs();
        m_timer.start();
    }
    // Counts the gap up to now (an operation still blocking at the end) and disarms.
    qint64 stop()
    {
        tick();
        m_timer.stop();
        return m_worstMs;
    }
    qint64 worstMs() const { return m_worstMs; }
    // The most CPU time the thread spent between two ticks, in ms (up to the last stop()).
    double worstCpuMs() const { return double(m_worstCpuUs) / 1000.0; }

    // Per test function (init: start, cleanup: record): the worst stall of each and of all.
    void record(const char* name)
    {
        const qint64 ms = stop();
        m_report << QStringLiteral("%1 %2 ms").arg(QLatin1String(name)).arg(ms);
        m_overallMs = qMax(m_overallMs, ms);
    }
    QString report() const
    {
        return QStringLiteral("worst event-loop stall %1 ms (%2)").arg(m_overallMs).arg(m_report.join(QStringLiteral(", ")));
    }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        m_worstMs = qMax(m_worstMs, now - m_last - 1);
        m_last = now;
        const qint64 cpu = threadCpuUs();
        m_worstCpuUs = qMax(m_worstCpuUs, cpu - m_cpuLastUs);
        m_cpuLastUs = cpu;
    }
    static qint64 threadCpuUs()
    {
        timespec t {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worstMs = 0;
    qint64 m_cpuLastUs = 0;
    qint64 m_worstCpuUs = 0;
    qint64 m_overallMs = 0;
    QStringList m_report;
};
