#pragma once

#include <QApplication>

// The program's application object: installs the style and the window icon, and is the
// last line of defence against exceptions that escape an event handler. Each one is
// reported as signal_exception(text, "ZunControl"); only an exception of no standard kind
// ends the program.
class Application : public QApplication
{
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    static QString caption() { return QStringLiteral("ZunControl"); }
    static QString unknownExceptionText() { return QStringLiteral("Unknown exception. Aborting."); }

signals:
    void signal_exception(QString text, QString caption);
};
