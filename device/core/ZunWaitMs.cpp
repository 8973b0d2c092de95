#include "ZunWaitMs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <stdexcept>

int ZunWaitMs(int ms)
{
    if (ms < 0)
        ms = 0;
    const int step = ms < 5 ? ms : 5;
    QElapsedTimer t;
    t.start();
    do {
        // A thread that is being stopped leaves its waits at once: its owner is going away.
        if (QThread::currentThread()->isInterruptionRequested())
            throw std::runtime_error("ZunWaitMs(): the thread is being stopped");
        QCoreApplication::sendPostedEvents(nullptr, 0);
        QCoreApplication::processEvents(QEventLoop::AllEvents, step);
        // A wait of no time only runs the queue: a sleep of 0 still gives the CPU away.
        if (step > 0)
            QThread::msleep(unsigned(step));
    } while (t.elapsed() < ms);
    return int(t.elapsed());
}
