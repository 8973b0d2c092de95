#pragma once

#include <QList>
#include <QString>

// What an operation on a list of processors (setup upload, setup recall) did on each of
// them, as the one message the operator gets at its end: a line for each processor,
// saying what was done, why it was not, or why that is not known.
class ZunListReport
{
public:
    // what: the operation ("Upload of setup Show.zun to position 3"); doneText: what a
    // processor that took it did ("stored").
    ZunListReport(const QString& what, const QString& doneText);

    void done(quint16 serial);
    void notDone(quint16 serial, const QString& reason);
    // The processor may have done it: its answer was lost.
    void unknown(quint16 serial, const QString& reason);
    bool allDone() const;
    QString text() const;
    // Whether a report's text (text()) says the operation was done on every processor: a
    // success, which its box shows as such.
    static bool saysAllDone(const QString& text);

private:
    enum class Outcome { Done, NotDone, Unknown };
    struct Line
    {
        quint16 serial;
        Outcome outcome;
        QString reason;
    };
    QString m_what;
    QString m_doneText;
    QList<Line> m_lines;
};
