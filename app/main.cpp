#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZunControlV2"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("ZunControlV2"));
    window.resize(1024, 700);
    window.show();
    return app.exec();
}
