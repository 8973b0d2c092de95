#include "Application.h"
#include "CFileVersionInfo.h"
#include "MainWindow.h"
#include "ZunMetaTypes.h"
#include "CZunNetwork.h"
#include "ZunStartup.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QSettings>

#include <stdexcept>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

static void displayMsgBox(const QString& text, const QString& caption)
{
    QMessageBox::warning(nullptr, QCoreApplication::translate("MainWindow", caption.toUtf8().constData()),
                         QCoreApplication::translate("MainWindow", text.toUtf8().constData()), QMessageBox::Ok);
}

// Started without a desktop session (by root in a lab, over ssh), no runtime folder is
// named, and Qt warns at every start before it takes the one it would make. That folder,
// private to this user, is named instead; anything amiss with it leaves the choice to Qt.
static void nameRuntimeFolder()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t uid = ::geteuid();
    const passwd* pw = ::getpwuid(uid);
    const QByteArray dir = QFile::encodeName(QDir::tempPath() + QStringLiteral("/runtime-")
                                             + (pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid)));
    if (::mkdir(dir.constData(), 0700) != 0 && errno != EEXIST)
        return;
    struct stat st {};
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid)
        return;
    if ((st.st_mode & 0777) != 0700 && ::chmod(dir.constData(), 0700) != 0)
        return;
    qputenv("XDG_RUNTIME_DIR", dir);
}

int main(int argc, char** argv)
{
    nameRuntimeFolder();
    registerZunMetaTypes();
    registerDiscoveryMetaTypes();

    Application app(argc, argv);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        QCoreApplication::setApplicationName(QString::fromLatin1(ZunStartup::ApplicationName));
        CFileVersionInfo version;
        version.Create(QCoreApplication::applicationFilePath());
        QCoreApplication::setApplicationVersion(ZunStartup::versionText(version));
        ZunStartup::installTranslators(&app);

        ZunStartup::configure(QCoreApplication::arguments());

        auto* window = new MainWindow;
        QObject::connect(&app, &Application::signal_exception, window, &MainWindow::displayMsgBox);
        {
            QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
            window->restoreGeometry(settings.value(QStringLiteral("MainWindow/geometry")).toByteArray());
        }
        window->show();
        QApplication::restoreOverrideCursor();
        const int rc = app.exec();
        // Ends the discovery and manager threads before the application object goes.
        delete window;
        return rc;
    } catch (const std::logic_error& e) {
        QApplication::restoreOverrideCursor();
        displayMsgBox(QString::fromLocal8Bit(e.what()), QStringLiteral("ZunControl"));
        return 0;
    } catch (const ZunStartup::startup_error& e) {
        // The data directory cannot be made: tell the user why, then stop.
        QApplication::restoreOverrideCursor();
        displayMsgBox(QString::fromLocal8Bit(e.what()), QStringLiteral("ZunControl"));
        return 1;
    }
}
