// Run by tools/run-tsan.sh before the tests: proves that the preloaded hooks make Qt's
// orderings visible without hiding a real race. Each case below is one ordering the
// tests rely on, and one case is a race that must still be reported. The script checks
// that exactly that one report comes out (it names lateWrite).
#include <QCoreApplication>
#include <QMutex>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>

namespace {

int guarded = 0;      // written by two threads under one mutex
int payload = 0;      // written before a queued signal, read by its slot
int late = 0;         // written after the signal left: the race the tool must see
int blockingResult = 0; // written by a blocking queued call's slot, read by its caller
int lastWords = 0;    // written by a thread before it ends, read after wait()
std::atomic<bool> lateWritten{false};

class Worker : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE void produce()
    {
        payload = 42;
        emit produced();
        lateWrite();
    }
    Q_INVOKABLE void answer() { blockingResult = 7; }

    static void __attribute__((noinline)) lateWrite()
    {
        late = 1;
        lateWritten.store(true, std::memory_order_relaxed);
    }

signals:
    void produced();
};

void __attribute__((noinline)) lateRead(int &sink)
{
    while (!lateWritten.load(std::memory_order_relaxed))
        QThread::yieldCurrentThread();
    sink += late;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QMutex mutex;
    QThread thread;
    Worker worker;
    worker.moveToThread(&thread);
    thread.start();

    // A mutex orders the two threads' writes.
    QMetaObject::invokeMethod(&worker, [&mutex]() {
        QMutexLocker lock(&mutex);
        ++guarded;
    }, Qt::BlockingQueuedConnection);
    {
        QMutexLocker lock(&mutex);
        ++guarded;
    }

    // A blocking queued call's slot happens before the caller goes on.
    QMetaObject::invokeMethod(&worker, "answer", Qt::BlockingQueuedConnection);
    int sink = blockingResult;

    // A queued signal's slot sees what was written before the emission, not after.
    QObject::connect(&worker, &Worker::produced, &app, [&]() {
        sink += payload;
        lateRead(sink);
        QMetaObject::invokeMethod(&worker, [&]() {
            lastWords = 1;
            QThread::currentThread()->quit();
        });
    }, Qt::QueuedConnection);
    QObject::connect(&thread, &QThread::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QMetaObject::invokeMethod(&worker, "produce", Qt::QueuedConnection);
    app.exec();

    // What the thread did before it ended happens before a wait that saw it end.
    thread.wait();
    sink += lastWords;
    std::printf("selfcheck: %d %d\n", guarded, sink);
    return 0;
}

#include "selfcheck.moc"
