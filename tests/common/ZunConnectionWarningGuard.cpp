// Linked into every test: a Qt warning about a connection or a queued call fails the test program.
//
// Qt reports a queued call it cannot make ("Cannot queue arguments of type ...", "Unable to
// handle unregistered datatype"), a connection it cannot make ("No such signal", "No such
// slot") or a call by name to a method the object does not have, or not with these
// arguments ("QMetaObject::invokeMethod: No such method") only as a warning, and the
// program goes on without the call: a test that would pass anyway hides a dead path. A
// QSignalSpy even makes the call work, as it registers its signal's argument types. So any
// such warning, from any thread, ends the test program as failed.
//
// QTest installs a message handler of its own when a test run starts, and so do tests that
// capture the log; neither passes warnings on. So this file stands in for Qt's
// qInstallMessageHandler: whoever installs a handler gets it behind this check, which
// always sees the message first.
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace
{
using Install = QtMessageHandler (*)(QtMessageHandler);

std::atomic<QtMessageHandler> g_next {nullptr}; // the handler installed last, or Qt's own

Install realInstall()
{
    static const Install real = [] {
        // The symbol of Qt's own function, after this program's.
        void* f = ::dlsym(RTLD_NEXT, "_Z22qInstallMessageHandlerPFv9QtMsgTypeRK18QMessageLogContextRK7QStringE");
        if (!f) {
            std::fprintf(stderr, "FAIL! the test's message guard cannot find Qt's qInstallMessageHandler\n");
            std::abort();
        }
        return reinterpret_cast<Install>(f);
    }();
    return real;
}

bool isConnectionWarning(QtMsgType type, const QString& text)
{
    if (type != QtWarningMsg && type != QtCriticalMsg)
        return false;
    return text.startsWith(QLatin1String("QObject::connect:")) || text.contains(QLatin1String("Cannot queue arguments"))
        || text.contains(QLatin1String("No such signal")) || text.contains(QLatin1String("No such slot"))
        || text.contains(QLatin1String("No such method")) || text.contains(QLatin1String("Unable to handle unregistered datatype"));
}

void guard(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const QtMessageHandler next = g_next.load();
    if (!isConnectionWarning(type, text)) {
        if (next)
            next(type, context, text);
        else
            std::fprintf(stderr, "%s\n", qUtf8Printable(text));
        return;
    }
    std::fprintf(stderr, "FAIL! Qt warned of a connection or call it cannot make: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
    // Told as a fatal error, QTest records the failure in the running function and closes
    // its log before the program ends.
    if (next)
        next(QtFatalMsg, context, text);
    std::abort();
}

// Qt hands back its own default handler for the first install; "no handler" means it.
std::atomic<QtMessageHandler> g_default {nullptr};

struct Installer
{
    Installer()
    {
        g_default = realInstall()(&guard);
        g_next = g_default.load();
    }
};
const Installer installer;
} // namespace

QtMessageHandler qInstallMessageHandler(QtMessageHandler handler)
{
    return g_next.exchange(handler ? handler : g_default.load());
}
