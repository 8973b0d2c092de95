#include "ZunBackupRecord.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

const char* const ZunBackupRecord::FileName = "backup-record.json";

ZunBackupRecord ZunBackupRecord::read(const QString& folder)
{
    ZunBackupRecord r;
    QFile f(QDir(folder).filePath(QString::fromLatin1(FileName)));
    if (!f.open(QIODevice::ReadOnly)) {
        r.m_error = QStringLiteral("the folder holds no record of its garbage collection (%1)").arg(FileName);
        return r;
    }
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.read(1 << 20), &parse);
    const QJsonObject o = doc.object();
    if (parse.error != QJsonParseError::NoError || !o.value(QStringLiteral("processor")).isDouble()) {
        r.m_error = QStringLiteral("its record %1 can not be read").arg(FileName);
        return r;
    }
    r.m_processor = o.value(QStringLiteral("processor")).toInt();
    for (const QJsonValue& v : o.value(QStringLiteral("files")).toArray()) {
        const QJsonObject e = v.toObject();
        r.m_entries.append({e.value(QStringLiteral("file")).toString(), e.value(QStringLiteral("position")).toInt(-1),
                            quint32(e.value(QStringLiteral("id")).toDouble())});
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
    QSaveFile f(QDir(folder).filePath(QString::fromLatin1(FileName)));
    if (f.open(QIODevice::WriteOnly)
        && f.write(QJsonDocument(QJsonObject{{QStringLiteral("processor"), m_processor}, {QStringLiteral("files"), files}})
                       .toJson())
               > 0
        && f.commit())
        return true;
    *error = f.errorString();
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
