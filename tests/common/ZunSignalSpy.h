#pragma once

#include <QCoreApplication>
#include <QMetaMethod>
#include <QSignalSpy>

// A QSignalSpy for objects whose signals come from other threads: the device object
// and its managers emit from their worker threads. QSignalSpy records on the emitting
// thread while the test reads on its own, a data race on its list. This one records on
// the test's thread: at once for a signal emitted there, queued otherwise.
class ZunSignalSpy : public QSignalSpy
{
public:
    ZunSignalSpy(const QObject *object, const char *signal) : QSignalSpy(object, signal)
    {
        if (isValid())
            recordOnOwnThread(object, object->metaObject()->indexOfSignal(QMetaObject::normalizedSignature(signal + 1)));
    }

    template <typename Func>
    ZunSignalSpy(const typename QtPrivate::FunctionPointer<Func>::Object *object, Func signal)
        : QSignalSpy(object, signal)
    {
        if (isValid())
            recordOnOwnThread(object, QMetaMethod::fromSignal(signal).methodIndex());
    }

    // Records now what other threads emitted before the caller synchronised with them
    // (a blocking queued call returned): those signals are already queued here.
    static void takeQueued() { QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall); }

private:
    void recordOnOwnThread(const QObject *object, int signalIndex)
    {
        // QSignalSpy receives on its first own method, right after QObject's.
        const int recorder = QObject::staticMetaObject.methodCount();
        QMetaObject::disconnect(object, signalIndex, this, recorder);
        QMetaObject::connect(object, signalIndex, this, recorder, Qt::AutoConnection, nullptr);
    }
};
