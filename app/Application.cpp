#include "Application.h"

#include "CBlockFIR.h"
#include "CCmdMap.h"
#include "ZunStyle.h"

#include <QIcon>

#include <cstdlib>
#include <exception>
#include <stdexcept>

static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
    initAppResources();
    setStyle(new ZunStyle(QStringLiteral("Cleanlooks")));
    setWindowIcon(QIcon(QStringLiteral(":/favicon.ico")));
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::logic_error& e) {
        emit signal_exception(QString::fromStdString(e.what()), caption());
    } catch (const CCmdMap::invalid_cmd& e) {
        // One box per command map: the later failed look-ups of the same map stay quiet.
        if (e.isFirstFailure())
            emit signal_exception(QStringLiteral("The firmware seems to be outdated. Please update to the newest one."), caption());
    } catch (const CBlockFIR::invalid_filter&) {
        emit signal_exception(QStringLiteral("Invalid FIR filter. Either the number coefficients or the target DSP platform is invalid."),
                              caption());
    } catch (const std::exception& e) {
        // A runtime error, bad_alloc and the like carry a text and leave the program in a
        // state it can go on from: show it instead of ending the program.
        emit signal_exception(QString::fromLocal8Bit(e.what()), caption());
    } catch (...) {
        // Also on the error output: in a worker thread the box, queued to the GUI thread,
        // would not come up before the end.
        qCritical("%s", qPrintable(unknownExceptionText()));
        emit signal_exception(unknownExceptionText(), caption());
        std::abort();
    }
    return true;
}
