#include "ZunWaitMs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

int ZunWaitMs(int ms)
{
    if (ms < 0)
        ms = 0;
    const int step = ms < 5 ? ms : 5;
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::sendPostedEvents(nullptr, 0);
        QCoreApplication::processEvents(QEventLoop::AllEvents, step);
        QThread::msleep(unsigned(step));
    } while (t.elapsed() < ms);
    return int(t.elapsed());
}
