#include "ZunOperationJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {
// The kinds by a name of their own: the file outlives the enumeration's numbering.
const QList<QPair<ZunLongOperation, const char*>>& kindNames()
{
    static const QList<QPair<ZunLongOperation, const char*>> names {
        {ZunLongOperation::FirChoice, "fir-choice"},   {ZunLongOperation::FirUpload, "fir-upload"},
        {ZunLongOperation::SetupUpload, "setup-upload"}, {ZunLongOperation::SetupRecall, "setup-recall"},
        {ZunLongOperation::Erase, "erase"},              {ZunLongOperation::Restore, "restore"},
        {ZunLongOperation::ConfigLoad, "config-load"},   {ZunLongOperation::Firmware, "firmware"},
        {ZunLongOperation::GarbageCollection, "garbage-collection"},
        {ZunLongOperation::BackupRestore, "backup-restore"},
        {ZunLongOperation::Wizard, "wizard"},
    };
    return names;
}

const char* nameOf(ZunLongOperation kind)
{
    for (const auto& n : kindNames())
        if (n.first == kind)
            return n.second;
    return "";
}

bool kindOf(const QString& name, ZunLongOperation* kind)
{
    for (const auto& n : kindNames())
        if (name == QLatin1String(n.second)) {
            *kind = n.first;
            return true;
        }
    return false;
}
} // namespace

void ZunOperationJournal::setFile(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    if (path == m_path)
        return;
    m_path = path;
    if (!m_path.isEmpty()) {
        // Only what no operation of this program wrote: the entries of the file are earlier ones.
        for (Entry e : read(m_path)) {
            e.id = m_nextId++;
            m_leftOver << e;
        }
    }
    write();
}

int ZunOperationJournal::add(ZunLongOperation kind)
{
    QMutexLocker lock(&m_mutex);
    Entry e;
    e.id = m_nextId++;
    e.kind = kind;
    e.started = QDateTime::currentDateTimeUtc();
    m_running << e;
    write();
    return e.id;
}

void ZunOperationJournal::note(int id, const QString& key, const QVariant& value)
{
    QMutexLocker lock(&m_mutex);
    for (Entry& e : m_running)
        if (e.id == id) {
            e.detail.insert(key, value);
            write();
            return;
        }
}

void ZunOperationJournal::markStopped(int id)
{
    QMutexLocker lock(&m_mutex);
    for (Entry& e : m_running)
        if (e.id == id) {
            e.closing = true;
            write(); // a quit anyway ends the program with it running: the record says stopped
        }
}

void ZunOperationJournal::remove(int id, bool done)
{
    QMutexLocker lock(&m_mutex);
    for (int i = 0; i < m_running.size(); ++i)
        if (m_running.at(i).id == id) {
            Entry e = m_running.takeAt(i);
            if (e.closing && !done) {
                e.stopped = true;
                m_leftOver << e;
            }
            write();
            return;
        }
}

QList<ZunOperationJournal::Entry> ZunOperationJournal::takeLeftOver()
{
    QMutexLocker lock(&m_mutex);
    const QList<Entry> left = std::exchange(m_leftOver, {});
    if (!left.isEmpty())
        write();
    return left;
}

void ZunOperationJournal::write()
{
    if (m_path.isEmpty())
        return;
    const QList<Entry> all = m_leftOver + m_running;
    if (all.isEmpty()) {
        QFile::remove(m_path);
        return;
    }
    QJsonArray list;
    for (const Entry& e : all)
        list.append(QJsonObject {{QStringLiteral("kind"), QLatin1String(nameOf(e.kind))},
                                 {QStringLiteral("started"), e.started.toString(Qt::ISODate)},
                                 {QStringLiteral("stopped"), e.stopped || e.closing},
                                 {QStringLiteral("detail"), QJsonObject::fromVariantMap(e.detail)}});
    // Written beside and renamed over the record, not synced to the disk: the record must
    // outlive a kill of the program, which keeps what was written, not a power cut; a sync
    // would hold the GUI thread at each operation's start, note and end.
    const QString part = m_path + QStringLiteral(".part");
    QFile file(part);
    const QByteArray bytes = QJsonDocument(QJsonObject {{QStringLiteral("operations"), list}}).toJson();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
        file.remove();
        return; // the operation runs all the same; only a kill would go unnamed
    }
    file.close();
    if (std::rename(QFile::encodeName(part).constData(), QFile::encodeName(m_path).constData()) != 0)
        file.remove();
}

QList<ZunOperationJournal::Entry> ZunOperationJournal::read(const QString& path)
{
    QFile file(path);
    QList<Entry> entries;
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1 << 20)
        return entries;
    const QJsonArray list = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("operations")).toArray();
    // Read back like any file: a damaged or tampered record gives at most a few entries of
    // plain values (each names its operation in a box and may have a folder read), the
    // same one once.
    constexpr int MaxEntries = 32, MaxText = 4096;
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        Entry e;
        if (!kindOf(o.value(QStringLiteral("kind")).toString(), &e.kind))
            continue;
        e.started = QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODate);
        e.stopped = o.value(QStringLiteral("stopped")).toBool();
        const QJsonObject detail = o.value(QStringLiteral("detail")).toObject();
        for (auto it = detail.begin(); it != detail.end(); ++it)
            if ((it->isString() && it->toString().size() <= MaxText) || it->isDouble())
                e.detail.insert(it.key(), it->toVariant());
        const bool again = std::any_of(entries.cbegin(), entries.cend(),
                                       [&e](const Entry& x) { return x.kind == e.kind && x.detail == e.detail; });
        if (!again)
            entries << e;
        if (entries.size() == MaxEntries)
            break;
    }
    return entries;
}

QStringList ZunOperationJournal::unfinishedIn(const QString& configDir)
{
    QStringList lines;
    if (configDir.isEmpty())
        return lines;
    const QDir dir(configDir);
    const QString suffix = QLatin1String(Suffix);
    for (const QString& name : dir.entryList({QLatin1Char('*') + suffix}, QDir::Files, QDir::Name)) {
        bool ok = false;
        const uint serial = name.chopped(suffix.size()).toUInt(&ok);
        if (!ok || serial > 0xFFFF)
            continue;
        QStringList what;
        for (const Entry& e : read(dir.filePath(name)))
            what << zunLongOperationText(e.kind);
        if (!what.isEmpty())
            lines << QStringLiteral("Zun %1: %2.").arg(serial).arg(what.join(QStringLiteral(", ")));
    }
    return lines;
}

QString ZunOperationJournal::describe(const Entry& e)
{
    QString text = zunLongOperationText(e.kind);
    text[0] = text.at(0).toUpper();
    const QString folder = e.detail.value(QStringLiteral("folder")).toString();
    const QString file = e.detail.value(QStringLiteral("file")).toString();
    if (!folder.isEmpty())
        text += QStringLiteral(" from %1").arg(QDir::toNativeSeparators(folder));
    else if (!file.isEmpty())
        text += QStringLiteral(" of %1").arg(QDir::toNativeSeparators(file));
    if (e.started.isValid())
        text += QStringLiteral(", started %1 UTC,").arg(e.started.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm")));
    text += e.stopped ? QStringLiteral(" was stopped before its end: its control window was closed, or the program "
                                       "quit, while it ran.")
                      : QStringLiteral(" did not end: the program ended while it ran (it was killed, or the "
                                       "computer stopped).");
    return text;
}
