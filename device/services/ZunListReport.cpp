#include "ZunListReport.h"

#include <QRegularExpression>
#include <QStringList>

ZunListReport::ZunListReport(const QString& what, const QString& doneText) : m_what(what), m_doneText(doneText) {}

void ZunListReport::done(quint16 serial) { m_lines.append({serial, Outcome::Done, QString()}); }

void ZunListReport::notDone(quint16 serial, const QString& reason) { m_lines.append({serial, Outcome::NotDone, reason}); }

void ZunListReport::unknown(quint16 serial, const QString& reason) { m_lines.append({serial, Outcome::Unknown, reason}); }

bool ZunListReport::allDone() const
{
    for (const Line& l : m_lines)
        if (l.outcome != Outcome::Done)
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
    int done = 0, unknown = 0;
    for (const Line& l : m_lines) {
        switch (l.outcome) {
        case Outcome::Done:
            ++done;
            lines << QStringLiteral("Zun nr %1: %2.").arg(l.serial).arg(m_doneText);
            break;
        case Outcome::NotDone:
            lines << QStringLiteral("Zun nr %1: NOT %2: %3").arg(l.serial).arg(m_doneText, l.reason);
            break;
        case Outcome::Unknown:
            ++unknown;
            lines << QStringLiteral("Zun nr %1: not known whether %2: %3").arg(l.serial).arg(m_doneText, l.reason);
            break;
        }
    }
    const QString unknownText = unknown ? QStringLiteral(", not known on %1").arg(unknown) : QString();
    return QStringLiteral("%1: done on %2 of %3 processors%4.\n\n%5")
        .arg(m_what)
        .arg(done)
        .arg(m_lines.size())
        .arg(unknownText, lines.join(QLatin1Char('\n')));
}
