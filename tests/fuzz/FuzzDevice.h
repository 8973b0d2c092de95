#pragma once

// A device object for the fuzz targets that need one: firmware 1080, not connected, built
// once for the run (its threads and image cost far more than one input).
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "FuzzSupport.h"
#include "ZunBaseComm.h"
#include "ZunDSPProgramManager.h"
#include "ZunOfflineDevice.h"

#include <QEventLoop>

#include <cstdlib>

namespace ZunFuzz {

// The device's workers, each with its own thread in the program: the link (which reports
// what it could not send), the image (in the link's thread), the managers.
inline QList<QObject*> workers(CZun* zun)
{
    return {zun->GetLink(), zun->GetStatusBuffer(), zun->GetDSPProgramManager(), zun->GetFIRLimManager(),
            zun->GetSetupManager()};
}

inline CZun* device()
{
    static ZunToolHome* home = nullptr;
    static QSharedPointer<CZun>* zun = nullptr;
    static QList<QThread*> homes;
    if (!zun) {
        home = new ZunToolHome;
        init();
        home->storeConfigDir();
        zun = new QSharedPointer<CZun>(zunOfflineDevice());
        // No processor answers: the pauses that give one time to boot or to switch its
        // routing would only make every input wait (a FIR activation's 50 ms).
        (*zun)->SetRoutingPauseMs(0);
        (*zun)->GetFIRLimManager()->setBootPauseMs(0);
        // The workers run in this thread while fuzzing: their queued work is done by
        // settle() in the order it was posted, an input is one thread's work (no thread
        // switches, two wake-ups each, on every hand-over: most of an input's time), and a
        // finding replays the same way. The device waits for a worker directly when it
        // lives in the caller's thread.
        QThread* here = QThread::currentThread();
        for (QObject* worker : workers(zun->data())) {
            homes << worker->thread();
            QMetaObject::invokeMethod(
                worker, [worker, here]() { worker->moveToThread(here); }, Qt::BlockingQueuedConnection);
        }
        // The device's threads end before the process's own globals go (exit handlers
        // run before the destructors of statics made earlier, such as Qt's). The workers
        // go home first: the device stops and deletes them there.
        std::atexit([]() {
            const QList<QObject*> all = workers(zun->data());
            for (int i = 0; i < all.size(); ++i)
                all[i]->moveToThread(homes[i]);
            delete zun;
            zun = nullptr;
        });
    }
    return zun->data();
}

// Runs the posted work of this thread until done() holds (at most a few seconds).
template <typename Done> void runUntil(Done done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Ends an input's work in this thread: queued calls run and objects released with
// deleteLater go. An input that leaves them to the next one never frees what it allocated,
// and libFuzzer then scans the whole heap for leaks after it (half of a run's time).
inline void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Ends an input's work in the device's workers too (see device()), which hand work to
// each other: a fault then belongs to the input that caused it. Twice, as objects deleted
// by the first round may post work of their own.
inline void settle(CZun*)
{
    for (int round = 0; round < 2; ++round) {
        // The workers' timers that are due fire too, as they would in their threads.
        QCoreApplication::processEvents();
        settle();
    }
}

} // namespace ZunFuzz
