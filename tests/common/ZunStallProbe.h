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
// And the time it was blocked: off the CPU while not idle in its event loop (a sleep, a
// lock, a flush to the disk), which the CPU time cannot see: the gap's wall time less its
// CPU time, less its waits for a core (the run-queue delay the kernel keeps for the thread,
// /proc/thread-self/schedstat), less the millisecond the timer waits idle.
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

class ZunStallProbe
{
public:
    // Made in the thread it measures.
    ZunStallProbe() : m_schedstat(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC))
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }

    ~ZunStallProbe()
    {
        if (m_schedstat >= 0)
            ::close(m_schedstat);
    }

    void start()
    {
        m_worstMs = 0;
        m_worstCpuUs = 0;
        m_worstBlockedUs = 0;
        m_clock.start();
        m_last = 0;
        m_lastUs = 0;
        m_cpuLastUs = threadCpuUs();
        m_queuedLastUs = queuedUs();
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
    // The longest the thread was blocked between two ticks, in ms (up to the last stop()).
    double worstBlockedMs() const { return double(m_worstBlockedUs) / 1000.0; }

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
        const qint64 wallUs = m_clock.nsecsElapsed() / 1000;
        const qint64 queued = queuedUs();
        const qint64 blocked = (wallUs - m_lastUs) - (cpu - m_cpuLastUs) - (queued - m_queuedLastUs) - 1000;
        m_worstBlockedUs = qMax(m_worstBlockedUs, blocked);
        m_cpuLastUs = cpu;
        m_lastUs = wallUs;
        m_queuedLastUs = queued;
    }
    // The time the thread has waited for a core, in µs (0 where the kernel does not say).
    qint64 queuedUs() const
    {
        char text[96] = {};
        if (m_schedstat < 0 || ::pread(m_schedstat, text, sizeof text - 1, 0) <= 0)
            return 0;
        // "<on the CPU, ns> <waiting for a core, ns> <time slices>"
        const char* second = strchr(text, ' ');
        return second ? qint64(strtoull(second + 1, nullptr, 10) / 1000) : 0;
    }
    static qint64 threadCpuUs()
    {
        timespec t {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
    }

    int m_schedstat = -1;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastUs = 0;
    qint64 m_queuedLastUs = 0;
    qint64 m_worstBlockedUs = 0;
    qint64 m_worstMs = 0;
    qint64 m_cpuLastUs = 0;
    qint64 m_worstCpuUs = 0;
    qint64 m_overallMs = 0;
    QStringList m_report;
};
