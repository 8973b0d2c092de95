#pragma once

// A device object for the fuzz targets that need one: firmware 1080, not connected, built
// once for the run (its threads and image cost far more than one input).
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "FuzzSupport.h"
#include "ZunDSPProgramManager.h"
#include "ZunOfflineDevice.h"

#include <QEventLoop>

#include <cstdlib>

namespace ZunFuzz {

inline CZun* device()
{
    static ZunToolHome* home = nullptr;
    static QSharedPointer<CZun>* zun = nullptr;
    if (!zun) {
        home = new ZunToolHome;
        init();
        home->storeConfigDir();
        zun = new QSharedPointer<CZun>(zunOfflineDevice());
        // No processor answers: the pauses that give one time to boot or to switch its
        // routing would only make every input wait (a FIR activation's 50 ms).
        (*zun)->SetRoutingPauseMs(0);
        (*zun)->GetFIRLimManager()->setBootPauseMs(0);
        // The device's threads end before the process's own globals go (exit handlers
        // run before the destructors of statics made earlier, such as Qt's).
        std::atexit([]() {
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

// Ends an input's work in the device's own threads too (image, managers), which hand work
// to each other and to this thread: a fault then belongs to the input that caused it.
// Twice, as work passed on by the first round is done in the second.
inline void settle(CZun* zun)
{
    const QList<QObject*> workers = {zun->GetStatusBuffer(), zun->GetDSPProgramManager(), zun->GetFIRLimManager(),
                                     zun->GetSetupManager()};
    for (int round = 0; round < 2; ++round) {
        for (QObject* worker : workers)
            QMetaObject::invokeMethod(worker, []() {}, Qt::BlockingQueuedConnection);
        settle();
    }
}

} // namespace ZunFuzz
