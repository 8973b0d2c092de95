#include "ZunSettingsWriter.h"

#include <QCoreApplication>
#include <QSettings>
#include <QThread>

namespace
{
// Takes the operator's values in the GUI thread and never writes them itself: QSettings
// writes on its own at its next event, and one constructed while values wait would write
// them there too, each time a flush of the lock file and of the file to the disk.
class HeldSettings : public QSettings
{
public:
    HeldSettings() : QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")) {}

protected:
    bool event(QEvent* e) override { return e->type() == QEvent::UpdateRequest || QSettings::event(e); }
};

QThread* g_thread = nullptr;
QObject* g_context = nullptr; // lives in g_thread: what the waits queue behind
HeldSettings* g_held = nullptr;

void stopWriter()
{
    ZunSettingsWriter::waitForWritten();
    g_thread->quit();
    g_thread->wait();
    delete g_context;
    delete g_thread;
    delete g_held; // nothing left to write: the writer has written it
    g_context = nullptr;
    g_thread = nullptr;
    g_held = nullptr;
}

QThread* writer()
{
    if (!g_thread) {
        g_thread = new QThread;
        g_thread->setObjectName(QStringLiteral("settings writer"));
        g_context = new QObject;
        g_context->moveToThread(g_thread);
        g_thread->start(QThread::LowPriority);
        qAddPostRoutine(stopWriter);
    }
    return g_thread;
}
} // namespace

void ZunSettingsWriter::store(const QList<QPair<QString, QVariant>>& values)
{
    // The values go into the settings every QSettings of the program shares at once, held
    // by one object that never writes them; the writer writes what waits, as a QSettings
    // made in its own thread does when it is made.
    writer();
    if (!g_held)
        g_held = new HeldSettings;
    for (const auto& v : values)
        g_held->setValue(v.first, v.second);
    QMetaObject::invokeMethod(g_context, [] { QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).sync(); });
}

void ZunSettingsWriter::waitForWritten()
{
    if (g_thread && g_thread->isRunning())
        QMetaObject::invokeMethod(g_context, []() {}, Qt::BlockingQueuedConnection);
}
