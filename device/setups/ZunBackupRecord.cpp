#include "ZunBackupRecord.h"

#include "CZun.h"
#include "ZunConfigFolder.h"
#include "ZunSetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

#include <cmath>

const char* const ZunBackupRecord::FileName = "backup-record.json";

namespace
{
// A whole number from low to high, or why the value is none.
QString wholeIn(const QJsonValue& v, double low, double high, double* out)
{
    if (!v.isDouble())
        return QStringLiteral("is not a number");
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < low || d > high)
        return QStringLiteral("is not a whole number from %1 to %2").arg(qint64(low)).arg(qint64(high));
    *out = d;
    return QString();
}

// Why the name is no plain file name of the folder, or empty.
QString badName(const QString& file)
{
    if (file.isEmpty() || file.startsWith(QLatin1Char('.')) || file.contains(QLatin1Char('/'))
        || file.contains(QLatin1Char('\\')) || file == QLatin1String(ZunBackupRecord::FileName))
        return QStringLiteral("names no file of the folder");
    return QString();
}
} // namespace

ZunBackupRecord ZunBackupRecord::ofFolder(CZun* device, const QString& folder, QMap<QString, QString>* unfit)
{
    ZunBackupRecord r(device->GetNr(), {});
    const QDir dir(folder);
    for (const QString& f : dir.entryList({QStringLiteral("*.fir")}, QDir::Files, QDir::Name)) {
        quint32 id = 0;
        const QString why = ZunConfigFolder::setRefusal(device, dir.filePath(f), &id);
        if (why.isEmpty())
            r.m_entries.append({f, -1, id});
        else
            unfit->insert(f, why);
    }
    QSet<int> positions;
    for (const QString& f : dir.entryList({QStringLiteral("Set*.zun")}, QDir::Files, QDir::Name)) {
        const int position = ZunSetup::numberFromFileName(QFileInfo(f).completeBaseName());
        quint32 id = 0;
        QStringList odd;
        QString why = ZunConfigFolder::setupRefusal(device, dir.filePath(f), position, &id, &odd);
        if (why.isEmpty() && positions.contains(position))
            why = QStringLiteral("a second setup for position %1").arg(position);
        if (why.isEmpty()) {
            r.m_entries.append({f, position, id});
            positions.insert(position);
        } else {
            unfit->insert(f, why);
        }
    }
    return r;
}

bool ZunBackupRecord::isIn(const QString& folder)
{
    return QFileInfo::exists(QDir(folder).filePath(QString::fromLatin1(FileName)));
}

ZunBackupRecord ZunBackupRecord::read(const QString& folder)
{
    ZunBackupRecord r;
    QFile f(QDir(folder).filePath(QString::fromLatin1(FileName)));
    if (!f.open(QIODevice::ReadOnly)) {
        r.m_error = QStringLiteral("the folder holds no record of its garbage collection (%1)").arg(FileName);
        return r;
    }
    // Anything wrong refuses the record whole: a record is trusted as written or not at all.
    const auto refused = [&r](const QString& why) {
        r.m_error = QStringLiteral("its record %1 can not be read (%2)").arg(QString::fromLatin1(FileName), why);
        r.m_processor = -1;
        r.m_entries.clear();
        return r;
    };
    if (f.size() > MaxBytes)
        return refused(QStringLiteral("larger than any record"));
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.read(MaxBytes + 1), &parse);
    if (parse.error != QJsonParseError::NoError)
        return refused(parse.errorString());
    if (!doc.isObject())
        return refused(QStringLiteral("not an object"));
    const QJsonObject o = doc.object();
    double number = 0;
    QString why = wholeIn(o.value(QStringLiteral("processor")), 0, 0xFFFF, &number);
    if (!why.isEmpty())
        return refused(QStringLiteral("its processor %1").arg(why));
    r.m_processor = int(number);
    if (!o.value(QStringLiteral("files")).isArray())
        return refused(QStringLiteral("no list of files"));
    const QJsonArray files = o.value(QStringLiteral("files")).toArray();
    // A collection backs up every set and setup, and refuses to erase without one.
    if (files.isEmpty())
        return refused(QStringLiteral("it lists no file"));
    QSet<QString> seen;
    for (const QJsonValue& v : files) {
        if (!v.isObject())
            return refused(QStringLiteral("an entry of its files is no object"));
        const QJsonObject e = v.toObject();
        Entry entry;
        entry.file = e.value(QStringLiteral("file")).toString();
        why = badName(entry.file);
        if (why.isEmpty() && seen.contains(entry.file))
            why = QStringLiteral("is listed twice");
        double position = 0, id = 0;
        QString bad;
        if (why.isEmpty() && !(bad = wholeIn(e.value(QStringLiteral("position")), -1, 0xFFFF, &position)).isEmpty())
            why = QStringLiteral("has a position that %1").arg(bad);
        if (why.isEmpty() && !(bad = wholeIn(e.value(QStringLiteral("id")), 1, 0xFFFFFFFFu, &id)).isEmpty())
            why = QStringLiteral("has an id that %1").arg(bad);
        entry.position = int(position);
        entry.id = quint32(id);
        if (!why.isEmpty())
            return refused(QStringLiteral("the entry \"%1\" %2").arg(entry.file.left(64), why));
        seen.insert(entry.file);
        r.m_entries.append(entry);
    }
    return r;
}

bool ZunBackupRecord::write(const QString& folder, QString* error) const
{
    QJsonArray files;
    for (const Entry& e : m_entries)
        files.append(QJsonObject{{QStringLiteral("file"), e.file},
                                 {QStringLiteral("position"), e.position},
                                 {QStringLiteral("id"), double(e.id)}});
    const QByteArray text =
        QJsonDocument(QJsonObject{{QStringLiteral("processor"), m_processor}, {QStringLiteral("files"), files}}).toJson();
    // Flushed before the commit: a disk that refuses the last bytes refuses the record,
    // instead of leaving an empty file in its place.
    QSaveFile f(QDir(folder).filePath(QString::fromLatin1(FileName)));
    if (f.open(QIODevice::WriteOnly) && f.write(text) == text.size() && f.flush() && f.commit())
        return true;
    *error = f.errorString();
    f.cancelWriting();
    return false;
}

const ZunBackupRecord::Entry* ZunBackupRecord::entry(const QString& file) const
{
    for (const Entry& e : m_entries)
        if (e.file == file)
            return &e;
    return nullptr;
}

QString ZunBackupRecord::refusal(int processor) const
{
    if (!m_error.isEmpty())
        return m_error;
    if (m_processor != processor)
        return QStringLiteral("its record names processor %1, not this one (%2)").arg(m_processor).arg(processor);
    return QString();
}
