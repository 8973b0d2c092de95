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
    // A report of several lines names each file with its reason itself: it is shown whole.
    if (detail.contains(QLatin1Char('\n')))
        return detail;
    // Both may come inside the text of the operation that read the file.
    if (detail.contains(QLatin1String("ZunSetup::fromFile()")))
        return QStringLiteral("The setup file %1could not be read: it is damaged or is no Zun setup.")
            .arg(quotedFile(detail, true));
    if (detail.contains(QLatin1String("CBlockFIR: invalid filter image")))
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
    static const QRegularExpression failure(
        QStringLiteral("^\\w+::toFile\\(\\): error writing to (?:FIR|setup) file (.+?): (.+)$"));
    static const QRegularExpression method(QStringLiteral("^\\w+::toFile\\(\\): "));
    const QRegularExpressionMatch m = failure.match(detail.trimmed());
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
