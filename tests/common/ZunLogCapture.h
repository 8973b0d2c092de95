#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Keeps the program's log lines (from any thread) while it lives, passing each on to the
// handler before it: a test asks whether a line containing a text was logged.
class ZunLogCapture
{
public:
    ZunLogCapture()
    {
        QMutexLocker lock(&mutex());
        lines().clear();
        previous() = qInstallMessageHandler(&ZunLogCapture::capture);
    }
    ~ZunLogCapture() { qInstallMessageHandler(previous()); }
    ZunLogCapture(const ZunLogCapture&) = delete;
    ZunLogCapture& operator=(const ZunLogCapture&) = delete;

    bool logged(const QString& part, Qt::CaseSensitivity cs = Qt::CaseSensitive) const
    {
        QMutexLocker lock(&mutex());
        return !lines().filter(part, cs).isEmpty();
    }

private:
    static QMutex& mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList& lines()
    {
        static QStringList l;
        return l;
    }
    static QtMessageHandler& previous()
    {
        static QtMessageHandler h = nullptr;
        return h;
    }
    static void capture(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        {
            QMutexLocker lock(&mutex());
            lines() << text;
        }
        if (previous())
            previous()(type, context, text);
    }
};
