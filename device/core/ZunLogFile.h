#pragma once

#include <QFile>
#include <QMutex>
#include <QString>

// The program's one log file. The first device object that logs fixes it: its folder's
// "logFile.txt", opened for appending and kept open until the program ends; every later
// line of every device object goes into that same file.
//
// A file that cannot be opened is tried again at the next line (it does not silence the
// log for the rest of the run).
class ZunLogFile
{
public:
    static ZunLogFile& instance();

    // Appends "hh:mm:ss: text". An empty folder (the device was never connected) drops
    // the line. Returns true when the line was written.
    bool write(const QString& folder, const QString& text);

    // The file's path once it is open, else empty.
    QString fileName() const;
    // Closes the file so that the next line fixes it anew (tests).
    void reset();

private:
    ZunLogFile() = default;

    mutable QMutex m_mutex;
    QFile m_file;
};
