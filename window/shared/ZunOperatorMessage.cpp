#include "ZunOperatorMessage.h"

#include "CCmdMap.h"
#include "CEQManager.h"

#include <QDebug>
#include <QFileInfo>
#include <QRegularExpression>

namespace
{
// The file a failure names: the last quoted name of its text (a setup archive names its
// entry first), or the first (a FIR file's reader names the file before the image's text).
QString quotedFile(const QString& detail, bool last)
{
    QString file;
    QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("'([^']*)'")).globalMatch(detail);
    while (it.hasNext() && (last || file.isEmpty()))
        file = it.next().captured(1);
    return file.isEmpty() ? file : QFileInfo(file).fileName() + QLatin1Char(' ');
}

QRegularExpressionMatch refusalMatch(const QString& detail)
{
    static const QRegularExpression refusal(
        QStringLiteral("^Internal error ([0-9a-fA-F]+) at Cmd:([0-9]+), Val:(\\S+)"));
    return refusal.match(detail);
}

// A file the device model could not write: the file and the system's reason.
QRegularExpressionMatch unwrittenMatch(const QString& detail)
{
    static const QRegularExpression failure(
        QStringLiteral("^\\w+::toFile\\(\\): error writing to (?:FIR|setup) file (.+?): (.+)$"));
    return failure.match(detail);
}

// Why a file could not be read or written, as said after its name ("Set01_A.zun: it is
// damaged ..."); empty for a text of any other kind. *fir: a FIR file's.
QString fileReason(const QString& detail, bool* fir = nullptr)
{
    static const QString image = QStringLiteral("CBlockFIR: invalid filter image: ");
    static const QString limiter = QStringLiteral("limiter value out of range: ");
    static const QRegularExpression writer(QStringLiteral("^\\w+::toFile\\(\\)"));
    if (fir)
        *fir = !detail.contains(QLatin1String("ZunSetup::"));
    if (detail.contains(QLatin1String("ZunSetup::fromFile()")))
        return QStringLiteral("it is damaged or is no Zun setup");
    if (const int at = detail.indexOf(image); at >= 0) {
        // A value its author can correct is named, with the range it must lie in.
        const QStringRef what = detail.midRef(at + image.size());
        if (!what.startsWith(limiter))
            return QStringLiteral("it is damaged or is no Zun FIR filter");
        return QStringLiteral("its limiter holds a value out of range: %1. Correct that value in the file")
            .arg(what.mid(limiter.size()));
    }
    if (const QRegularExpressionMatch m = unwrittenMatch(detail); m.hasMatch())
        return QStringLiteral("it could not be written (%1). Check that its folder can be written to and that its "
                              "disk has room")
            .arg(m.captured(2));
    if (writer.match(detail).hasMatch())
        return QStringLiteral("it could not be written. Check that its folder can be written to and that its disk has "
                              "room");
    return QString();
}

// A line of a report that names a file and why ("file: reason" or the writer's own text),
// the reason in the operator's words.
QString reportLine(const QString& line)
{
    if (const QRegularExpressionMatch m = unwrittenMatch(line); m.hasMatch())
        return QStringLiteral("%1: %2").arg(m.captured(1), m.captured(2));
    const int colon = line.indexOf(QLatin1String(": "));
    if (colon <= 0 || line.leftRef(colon).contains(QLatin1Char(':')))
        return line;
    const QString reason = fileReason(line.mid(colon + 2));
    return reason.isEmpty() ? line : line.left(colon + 2) + reason;
}

QString translate(const QString& detail, const CCmdMap* map)
{
    if (const QRegularExpressionMatch m = refusalMatch(detail); m.hasMatch()) {
        const int code = m.captured(1).toInt(nullptr, 16);
        QString reason = map ? map->GetStringMapForKeysBeginningWith(QStringLiteral("Msg_")).value(code) : QString();
        if (reason.isEmpty())
            reason = QStringLiteral("error code %1").arg(m.captured(1));
        // Which setting it was: the control shows the processor's value again, which alone
        // does not say that anything was refused.
        return QStringLiteral("The processor refused %1: %2.")
            .arg(ZunOperatorMessage::command(quint16(m.captured(2).toUInt()), m.captured(3), map), reason);
    }
    // A report of several lines names each file with its reason itself: it is shown whole,
    // each reason in the operator's words.
    if (detail.contains(QLatin1Char('\n'))) {
        QStringList lines = detail.split(QLatin1Char('\n'));
        for (QString& line : lines)
            line = reportLine(line);
        return lines.join(QLatin1Char('\n'));
    }
    // Each may come inside the text of the operation that read or wrote the file.
    bool fir = false;
    const QString reason = fileReason(detail, &fir);
    if (const QRegularExpressionMatch m = unwrittenMatch(detail); m.hasMatch())
        return QStringLiteral("The %1 file %2 could not be written: %3. Check that its folder can be written to and "
                              "that its disk has room.")
            .arg(fir ? QStringLiteral("FIR") : QStringLiteral("setup"), m.captured(1), m.captured(2));
    if (reason.startsWith(QLatin1String("it could not be written")))
        return QStringLiteral("A %1 file %2.")
            .arg(fir ? QStringLiteral("FIR") : QStringLiteral("setup"), reason.mid(3)); // "could not be written ..."
    if (detail.contains(QLatin1String("ZunSetup::fromFile()")))
        return QStringLiteral("The setup file %1could not be read: %2.").arg(quotedFile(detail, true), reason);
    if (reason.startsWith(QLatin1String("its limiter")))
        return QStringLiteral("The FIR filter %1was not used: %2.").arg(quotedFile(detail, false), reason);
    if (!reason.isEmpty())
        return QStringLiteral("The FIR filter %1is damaged or is no Zun FIR filter; it was not used.")
            .arg(quotedFile(detail, false));
    if (detail.startsWith(QLatin1String("CEQManager::NewEQ(): No free EQ left.")))
        return QStringLiteral("No EQ is left for this channel: it holds %1 EQs already, or its DSP has no free EQ. "
                              "Remove an EQ first.")
            .arg(CEQManager::MaxEQsPerChannel);
    if (detail.startsWith(QLatin1String("CEQManager::NewHOFilter(): No free High Order filter left")))
        return QStringLiteral("No crossover filter is left on this channel's DSP. Remove a filter first.");
    return detail;
}
} // namespace

QString ZunOperatorMessage::unwritten(const QString& detail)
{
    static const QRegularExpression method(QStringLiteral("^\\w+::toFile\\(\\): "));
    const QRegularExpressionMatch m = unwrittenMatch(detail.trimmed());
    return m.hasMatch() ? QStringLiteral("%1: %2").arg(m.captured(1), m.captured(2))
                        : detail.trimmed().remove(method);
}

bool ZunOperatorMessage::isRefusal(const QString& detail) { return refusalMatch(detail.trimmed()).hasMatch(); }

QString ZunOperatorMessage::command(quint16 cmd, const QString& value, const CCmdMap* map)
{
    const QString name = map ? map->cmdName(cmd) : QString();
    return name.isEmpty() ? QStringLiteral("command %1 = %2").arg(cmd).arg(value)
                          : QStringLiteral("%1 (%2) = %3").arg(name).arg(cmd).arg(value);
}

QString ZunOperatorMessage::text(const QString& detail, const CCmdMap* map)
{
    const QString own = detail.trimmed();
    const QString shown = translate(own, map);
    if (shown == own)
        return detail;
    qWarning().noquote() << own;
    return shown;
}
