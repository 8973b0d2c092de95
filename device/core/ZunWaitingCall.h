#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

// Calls into a worker whose result the caller waits for. Across threads the call is
// queued and the caller blocks until the worker has run it; when the worker lives in the
// caller's own thread it runs at once (a blocking queued call would wait on itself for
// ever).
inline Qt::ConnectionType zunWaitingCall(const QObject* worker)
{
    return worker->thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection;
}

// Connects a signal to a worker's slot so that the emitter waits for the slot, as a
// blocking queued connection does, wherever the worker lives when the signal comes.
template <typename Sender, typename Signal, typename Worker, typename... Args>
QMetaObject::Connection zunConnectWaiting(const Sender* sender, Signal signal, Worker* worker,
                                          void (Worker::*slot)(Args...))
{
    return QObject::connect(
        sender, signal, worker,
        [worker, slot](Args... args) {
            QMetaObject::invokeMethod(
                worker, [worker, slot, args...]() { (worker->*slot)(args...); }, zunWaitingCall(worker));
        },
        Qt::DirectConnection);
}
