#include "Application.h"
#include "CFileVersionInfo.h"
#include "MainWindow.h"
#include "ZunMetaTypes.h"
#include "CZunNetwork.h"
#include "ZunStartup.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QSettings>

#include <stdexcept>

static void displayMsgBox(const QString& text, const QString& caption)
{
    QMessageBox::warning(nullptr, QCoreApplication::translate("MainWindow", caption.toUtf8().constData()),
                         QCoreApplication::translate("MainWindow", text.toUtf8().constData()), QMessageBox::Ok);
}

int main(int argc, char** argv)
{
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
