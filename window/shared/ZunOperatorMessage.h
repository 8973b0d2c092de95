#pragma once

#include <QString>

class CCmdMap;

// The operator's words for the failures the device model reports in its own: a command the
// processor refused, a setup archive or FIR image that cannot be read (a limiter value out
// of range named with its value), a file that cannot be written, a channel without a free
// EQ or crossover filter; in a report of several lines, each file's reason. The model's
// text, which tests and logs rely on, goes to the program's log; a text of any other kind
// is shown as it is.
class ZunOperatorMessage
{
public:
    // map: the processor's command map, which names a refusal code (none: the code shows).
    static QString text(const QString& detail, const CCmdMap* map = nullptr);
    // A command and its value as the operator's reports name them: "Cmd_KeyLock (20) = 1".
    static QString command(quint16 cmd, const QString& value, const CCmdMap* map);
    // A file the device model could not write, as "file: reason" (the system's words, "No
    // space left on device"); a text of another kind as it is.
    static QString unwritten(const QString& detail);
    // Whether the text is the device model's report of a command the processor refused.
    static bool isRefusal(const QString& detail);
};
