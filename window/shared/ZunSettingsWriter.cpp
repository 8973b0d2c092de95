#include "ZunSettingsWriter.h"

#include <QCoreApplication>
#include <QSettings>
#include <QThread>

namespace
{
QThread* g_thread = nullptr;
QObject* g_context = nullptr; // lives in g_thread: what the waits queue behind

void stopWriter()
{
    ZunSettingsWriter::waitForWritten();
    g_thread->quit();
    g_thread->wait();
    delete g_context;
    delete g_thread;
    g_context = nullptr;
    g_thread = nullptr;
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
    // The values go into the settings every QSettings of the program shares at once; the
    // object that holds them moves to the writer, which writes the file when it takes the
    // object's update and deletes it after that.
    auto* settings = new QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    for (const auto& v : values)
        settings->setValue(v.first, v.second);
    settings->moveToThread(writer());
    settings->deleteLater();
}

void ZunSettingsWriter::waitForWritten()
{
    if (g_thread && g_thread->isRunning())
        QMetaObject::invokeMethod(g_context, []() {}, Qt::BlockingQueuedConnection);
}
