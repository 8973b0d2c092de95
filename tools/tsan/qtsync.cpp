// Preloaded into the ThreadSanitizer runs (tools/run-tsan.sh): tells the tool about the
// synchronisation Qt does inside its own, uninstrumented libraries.
//
// Qt's mutexes wait on futexes and its event queues are guarded by those mutexes, so the
// tool sees neither. Without this every queued signal, posted event and mutex-guarded
// member would show as a race. Each hook below states one ordering Qt guarantees:
//  - a mutex unlock happens before the next lock of that mutex;
//  - a signal's emission, an invokeMethod, a postEvent or a deleteLater happens before the
//    delivery of the event it queues;
//  - a blocking queued call's slot happens before the caller goes on;
//  - a QtConcurrent task's start happens before its body runs;
//  - everything a thread did happens before a wait() that saw it finished.
// What Qt's own code reads and writes (the events it allocates, copies and frees) is left
// out with the tool's ignore_noninstrumented_modules; the copies of our own types that
// Qt makes while queueing a call run our code, so they are left out here (see
// registerNormalizedType below).
// The hooks replace Qt's exported functions for the calls our code makes (the preloaded
// library comes first in symbol lookup) and forward to Qt's own. Calls Qt makes inside its
// libraries bind directly and stay unseen, which is fine: only our data is of interest.
#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QFutureInterfaceBase>
#include <QMetaObject>
#include <QMetaType>
#include <QMutex>
#include <QReadWriteLock>
#include <QThread>
#include <QThreadStorage>
#include <QWaitCondition>
#include <QtCore/private/qobject_p.h>
#include <QtCore/private/qthread_p.h>

#include <dlfcn.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

// Qt's own definition of a symbol we replace.
template <typename F>
F real(const char *mangled)
{
    void *address = dlsym(RTLD_NEXT, mangled);
    if (!address) {
        std::fprintf(stderr, "qtsync: %s not found in Qt\n", mangled);
        std::abort();
    }
    return reinterpret_cast<F>(address);
}

// Weak: a helper program the tests start without the tool (a display server) inherits
// the preload too, and must run unchanged.
extern "C" void __tsan_acquire(void *addr) __attribute__((weak));
extern "C" void __tsan_release(void *addr) __attribute__((weak));
extern "C" void __tsan_ignore_thread_begin() __attribute__((weak));
extern "C" void __tsan_ignore_thread_end() __attribute__((weak));

void acquire(const void *address)
{
    if (__tsan_acquire)
        __tsan_acquire(const_cast<void *>(address));
}

void release(const void *address)
{
    if (__tsan_release)
        __tsan_release(const_cast<void *>(address));
}

// A second address per object for "a blocking call into it has returned": kept apart from
// the object's own so that an ordinary queued call does not order its caller after
// slots that ran earlier.
const void *blockingDone(const void *object) { return static_cast<const char *>(object) + 1; }

// Queueing a call copies its arguments into memory Qt allocates, after the emission was
// announced (Qt's own allocation and the post that follows are invisible). The copy of
// one of our types runs our instrumented copy constructor: left out, like Qt's part of
// it, or every queued argument would race with its own delivery. Each registered type's
// constructor gets a trampoline of its own from a fixed pool.
using Constructor = void *(*)(void *, const void *);
constexpr int kConstructors = 1024;
Constructor originalConstructor[kConstructors];
std::atomic<int> constructorsUsed{0};

template <int N>
void *quietConstructor(void *where, const void *copy)
{
    if (__tsan_ignore_thread_begin)
        __tsan_ignore_thread_begin();
    void *made = originalConstructor[N](where, copy);
    if (__tsan_ignore_thread_end)
        __tsan_ignore_thread_end();
    return made;
}

template <int... N>
constexpr std::array<Constructor, sizeof...(N)> trampolines(std::integer_sequence<int, N...>)
{
    return {{&quietConstructor<N>...}};
}
const auto quietConstructors = trampolines(std::make_integer_sequence<int, kConstructors>());

Constructor quiet(Constructor constructor)
{
    if (!constructor)
        return constructor;
    const int slot = constructorsUsed.fetch_add(1);
    if (slot >= kConstructors) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            std::fprintf(stderr, "qtsync: more than %d metatypes, later ones unwrapped\n", kConstructors);
        return constructor;
    }
    originalConstructor[slot] = constructor;
    return quietConstructors[slot];
}

// Qt keeps a meta-call event's semaphore (set for blocking calls only) private; this
// mirrors the event's layout to read it.
struct MetaCallEventLayout : QEvent {
    MetaCallEventLayout() : QEvent(QEvent::MetaCall) {}
    virtual void placeMetaCall(QObject *) {}
    int signalId;
    const QObject *sender;
    void *semaphore;
};
static_assert(sizeof(MetaCallEventLayout) == sizeof(QAbstractMetaCallEvent),
              "the meta-call event's layout changed");

bool isBlocking(const QAbstractMetaCallEvent *event)
{
    return reinterpret_cast<const MetaCallEventLayout *>(event)->semaphore != nullptr;
}

// A thread's end is announced from its thread-local storage, which Qt clears in the
// finishing thread before it marks the thread finished and wakes its waiters.
struct ThreadEnd {
    const QThread *thread = QThread::currentThread();
    ~ThreadEnd() { release(thread); }
};

void markThreadEnd()
{
    static QThreadStorage<ThreadEnd *> ends;
    if (!ends.hasLocalData())
        ends.setLocalData(new ThreadEnd);
}

// Takes over the delivery of every event in every thread, doing what Qt's own delivery
// does (the thread's scope level, then the application's notify) with the orderings
// around it.
bool deliver(void **data)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    auto *receiver = static_cast<QObject *>(data[0]);
    auto *event = static_cast<QEvent *>(data[1]);
    auto *result = static_cast<bool *>(data[2]);
    const QObject *sender = nullptr;
    bool blocking = false;
    if (event->type() == QEvent::MetaCall) {
        auto *call = static_cast<QAbstractMetaCallEvent *>(event);
        sender = call->sender();
        blocking = isBlocking(call);
    }
    markThreadEnd();
    acquire(receiver);
    if (sender)
        acquire(sender);
    {
        QScopedScopeLevelCounter level(QObjectPrivate::get(receiver)->threadData.loadRelaxed());
        *result = app->notify(receiver, event);
    }
    if (blocking) {
        release(blockingDone(receiver));
        if (sender)
            release(blockingDone(sender));
    }
    return true;
}

struct Install {
    Install() { QInternal::registerCallback(QInternal::EventNotifyCallback, deliver); }
} install;

} // namespace

int QMetaType::registerNormalizedType(const ::QByteArray &normalizedTypeName, Destructor destructor,
                                     Constructor constructor, int size, QMetaType::TypeFlags flags,
                                     const QMetaObject *metaObject)
{
    using Register = int (*)(const ::QByteArray &, Destructor, Constructor, int, QMetaType::TypeFlags,
                             const QMetaObject *);
    static auto f = real<Register>("_ZN9QMetaType22registerNormalizedTypeERK10QByteArrayPFvPvEPFS3_S3_PKvEi6"
                                   "QFlagsINS_8TypeFlagEEPK11QMetaObject");
    return f(normalizedTypeName, destructor, quiet(constructor), size, flags, metaObject);
}

// Mutexes.
void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static auto f = real<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    f(this);
    acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static auto f = real<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static auto f = real<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    release(this);
    f(this);
}

void QReadWriteLock::lockForRead()
{
    static auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock11lockForReadEv");
    f(this);
    acquire(this);
}

void QReadWriteLock::lockForWrite()
{
    static auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock12lockForWriteEv");
    f(this);
    acquire(this);
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    static auto f = real<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock14tryLockForReadEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    static auto f = real<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock15tryLockForWriteEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForRead()
{
    static auto f = real<bool (*)(QReadWriteLock *)>("_ZN14QReadWriteLock14tryLockForReadEv");
    const bool locked = f(this);
    if (locked)
        acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForWrite()
{
    static auto f = real<bool (*)(QReadWriteLock *)>("_ZN14QReadWriteLock15tryLockForWriteEv");
    const bool locked = f(this);
    if (locked)
        acquire(this);
    return locked;
}

void QReadWriteLock::unlock()
{
    static auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock6unlockEv");
    release(this);
    f(this);
}

// A wait gives the mutex up and takes it again; a wake happens before the wait it ends.
bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline)
{
    static auto f = real<bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    release(lockedMutex);
    const bool woken = f(this, lockedMutex, deadline);
    acquire(lockedMutex);
    acquire(this);
    return woken;
}

bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    static auto f = real<bool (*)(QWaitCondition *, QMutex *, unsigned long)>(
        "_ZN14QWaitCondition4waitEP6QMutexm");
    release(lockedMutex);
    const bool woken = f(this, lockedMutex, time);
    acquire(lockedMutex);
    acquire(this);
    return woken;
}

void QWaitCondition::wakeOne()
{
    static auto f = real<void (*)(QWaitCondition *)>("_ZN14QWaitCondition7wakeOneEv");
    release(this);
    f(this);
}

void QWaitCondition::wakeAll()
{
    static auto f = real<void (*)(QWaitCondition *)>("_ZN14QWaitCondition7wakeAllEv");
    release(this);
    f(this);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static auto f = real<bool (*)(QThread *, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool finished = f(this, deadline);
    if (finished)
        acquire(this);
    return finished;
}

bool QThread::wait(unsigned long time)
{
    static auto f = real<bool (*)(QThread *, unsigned long)>("_ZN7QThread4waitEm");
    const bool finished = f(this, time);
    if (finished)
        acquire(this);
    return finished;
}

bool QThread::isFinished() const
{
    static auto f = real<bool (*)(const QThread *)>("_ZNK7QThread10isFinishedEv");
    const bool finished = f(this);
    if (finished)
        acquire(this);
    return finished;
}

// Queued work: released on the object it is queued to (or from), acquired by the delivery.
void QMetaObject::activate(QObject *sender, const QMetaObject *m, int local_signal_index, void **argv)
{
    static auto f = real<void (*)(QObject *, const QMetaObject *, int, void **)>(
        "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    release(sender);
    f(sender, m, local_signal_index, argv);
    acquire(blockingDone(sender));
}

bool QMetaObject::invokeMethodImpl(QObject *object, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type,
                                   void *ret)
{
    static auto f = real<bool (*)(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    release(object);
    const bool invoked = f(object, slot, type, ret);
    acquire(blockingDone(object));
    return invoked;
}

bool QMetaObject::invokeMethod(QObject *obj, const char *member, Qt::ConnectionType type,
                               QGenericReturnArgument ret, QGenericArgument val0, QGenericArgument val1,
                               QGenericArgument val2, QGenericArgument val3, QGenericArgument val4,
                               QGenericArgument val5, QGenericArgument val6, QGenericArgument val7,
                               QGenericArgument val8, QGenericArgument val9)
{
    using Invoke = bool (*)(QObject *, const char *, Qt::ConnectionType, QGenericReturnArgument,
                            QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                            QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                            QGenericArgument, QGenericArgument);
    static auto f = real<Invoke>("_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22"
                                 "QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_");
    release(obj);
    const bool invoked = f(obj, member, type, ret, val0, val1, val2, val3, val4, val5, val6, val7, val8, val9);
    acquire(blockingDone(obj));
    return invoked;
}

void QCoreApplication::postEvent(QObject *receiver, QEvent *event, int priority)
{
    static auto f = real<void (*)(QObject *, QEvent *, int)>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    release(receiver);
    f(receiver, event, priority);
}

void QObject::deleteLater()
{
    static auto f = real<void (*)(QObject *)>("_ZN7QObject11deleteLaterEv");
    release(this);
    f(this);
}

// A QtConcurrent task reports its start in the caller's thread and asks whether it was
// cancelled first thing in the pool's thread.
void QFutureInterfaceBase::reportStarted()
{
    static auto f = real<void (*)(QFutureInterfaceBase *)>("_ZN20QFutureInterfaceBase13reportStartedEv");
    release(this);
    f(this);
}

bool QFutureInterfaceBase::isCanceled() const
{
    static auto f = real<bool (*)(const QFutureInterfaceBase *)>("_ZNK20QFutureInterfaceBase10isCanceledEv");
    acquire(this);
    return f(this);
}
