#include "ZunListReport.h"

#include <QRegularExpression>
#include <QStringList>

ZunListReport::ZunListReport(const QString& what, const QString& doneText) : m_what(what), m_doneText(doneText) {}

void ZunListReport::done(quint16 serial) { m_lines.append({serial, true, QString()}); }

void ZunListReport::notDone(quint16 serial, const QString& reason) { m_lines.append({serial, false, reason}); }

bool ZunListReport::allDone() const
{
    for (const Line& l : m_lines)
        if (!l.done)
            return false;
    return true;
}

bool ZunListReport::saysAllDone(const QString& text)
{
    static const QRegularExpression head(QStringLiteral(": done on (\\d+) of (\\d+) processors\\.\\n"));
    const QRegularExpressionMatch m = head.match(text);
    return m.hasMatch() && m.captured(1) == m.captured(2) && m.captured(1) != QLatin1String("0");
}

QString ZunListReport::text() const
{
    QStringList lines;
    int done = 0;
    for (const Line& l : m_lines) {
        done += l.done ? 1 : 0;
        lines << (l.done ? QStringLiteral("Zun nr %1: %2.").arg(l.serial).arg(m_doneText)
                         : QStringLiteral("Zun nr %1: NOT %2: %3").arg(l.serial).arg(m_doneText, l.reason));
    }
    return QStringLiteral("%1: done on %2 of %3 processors.\n\n%4")
        .arg(m_what)
        .arg(done)
        .arg(m_lines.size())
        .arg(lines.join(QLatin1Char('\n')));
}
