#include "ZunOperationJournal.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QSettings>
#include <QSysInfo>
#include <QTemporaryFile>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

// What a record read back may hold: a few entries of a few short notes (a folder's path
// the longest), so that one written again is no larger than any record.
constexpr int MaxEntries = 32, MaxDetail = 6, MaxKey = 64, MaxText = 4096;

// A whole number from 0 to high, or -1.
qint64 whole(const QJsonValue& v, double high)
{
    const double d = v.toDouble(-1);
    return d >= 0 && d <= high && d == std::floor(d) ? qint64(d) : -1;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
}

// When the process began, in clock ticks since the computer started; -1 when unknown.
qint64 startTicks(qint64 pid)
{
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const int name = stat.lastIndexOf(')'); // the program's name may hold blanks and parentheses
    bool ok = false;
    const qint64 ticks = name < 0 ? -1 : stat.mid(name + 2).split(' ').value(19).toLongLong(&ok);
    return ok ? ticks : -1;
}

// This program as the writer of an entry: its computer, that computer's run (a restart
// ends every program) and the process, told apart from a later one with its number by
// the time it began.
const QJsonObject& thisProcess()
{
    static const QJsonObject process {
        {QStringLiteral("host"), QSysInfo::machineHostName().left(255)},
        {QStringLiteral("boot"),
         QString::fromLatin1(readAll(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed().left(64))},
        {QStringLiteral("pid"), double(QCoreApplication::applicationPid())},
        {QStringLiteral("since"), double(startTicks(QCoreApplication::applicationPid()))}};
    return process;
}

// The journals of this program that exist now, by their token.
QMutex g_liveMutex;
QSet<int>& liveJournals()
{
    static QSet<int> live;
    return live;
}

QJsonObject writerOf(int token)
{
    QJsonObject o = thisProcess();
    o.insert(QStringLiteral("journal"), token);
    return o;
}

QByteArray keyOf(const QJsonObject& writer) { return QJsonDocument(writer).toJson(QJsonDocument::Compact); }

// Whether the program that wrote an entry runs yet: only then is the entry its own.
bool alive(const QJsonObject& writer)
{
    if (writer.isEmpty())
        return false; // an earlier version wrote it, and is not told from one that ended
    const QJsonObject& me = thisProcess();
    if (writer.value(QStringLiteral("host")) != me.value(QStringLiteral("host")))
        return true; // a program of another computer: only that computer can tell
    if (writer.value(QStringLiteral("boot")) != me.value(QStringLiteral("boot")))
        return false;
    const qint64 pid = whole(writer.value(QStringLiteral("pid")), 1 << 30);
    const qint64 since = whole(writer.value(QStringLiteral("since")), 1e15);
    if (pid <= 0 || since < 0)
        return false;
    if (writer.value(QStringLiteral("pid")) == me.value(QStringLiteral("pid"))
        && writer.value(QStringLiteral("since")) == me.value(QStringLiteral("since"))) {
        QMutexLocker lock(&g_liveMutex);
        return liveJournals().contains(int(whole(writer.value(QStringLiteral("journal")), 1 << 30)));
    }
    return startTicks(pid) == since;
}

// What was said once and is not said again (a record named that could not be removed, in a
// read-only folder; a record that could not be written), also by a later program: kept in
// the settings, written off the caller's thread (a settings file is synced to the disk).
const char* const ToldKey = "operationRecordsTold";
QMutex g_toldMutex;
QStringList& toldList()
{
    static QStringList told =
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).value(QLatin1String(ToldKey)).toStringList();
    return told;
}

bool wasTold(const QByteArray& key)
{
    QMutexLocker lock(&g_toldMutex);
    return toldList().contains(QString::fromLatin1(key));
}

void markTold(const QByteArray& key, bool told)
{
    QMutexLocker lock(&g_toldMutex);
    QStringList& list = toldList();
    if (key.isEmpty() || list.contains(QString::fromLatin1(key)) == told)
        return;
    if (told)
        list.prepend(QString::fromLatin1(key));
    else
        list.removeAll(QString::fromLatin1(key));
    list = list.mid(0, 64);
    // Whichever write runs last writes the list as it is then.
    QThreadPool::globalInstance()->start([]() {
        QStringList now;
        {
            QMutexLocker lock(&g_toldMutex);
            now = toldList();
        }
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).setValue(QLatin1String(ToldKey), now);
    });
}

QByteArray fingerprint(const QString& path, const QByteArray& bytes)
{
    return QCryptographicHash::hash(path.toUtf8() + '\0' + bytes, QCryptographicHash::Sha1).toHex();
}

// The record at path could not be written.
QByteArray unwritable(const QString& path) { return fingerprint(path, "unwritable"); }

// A damaged record's bytes go aside, stamped, and are no record any more; empty when they
// could not.
QString moveAside(const QString& path)
{
    const QString stamped = path + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-hhmmss"));
    QString kept = stamped;
    for (int n = 2; QFileInfo::exists(kept) || QFileInfo(kept).isSymLink(); ++n)
        kept = stamped + QStringLiteral("-%1").arg(n);
    return QDir().rename(path, kept) ? kept : QString();
}

// Written as a save file is (a file of its own name beside the record, made anew, then
// renamed over it: a link in the folder is replaced, never followed), not synced to the
// disk: the record must outlive a kill of the program, which keeps what was written, not
// a power cut; a sync would hold the GUI thread at each operation's start, note and end.
QString replace(const QString& path, const QByteArray& bytes)
{
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return file.errorString();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        // Removed by name: the object itself would first flush again, fail, and keep it.
        QFile::remove(file.fileName());
        return file.errorString();
    }
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    file.setAutoRemove(false);
    return QString();
}
} // namespace

ZunOperationJournal::ZunOperationJournal() : m_token([]() {
    static std::atomic<int> next {1};
    return next++;
}())
{
    QMutexLocker lock(&g_liveMutex);
    liveJournals().insert(m_token);
}

ZunOperationJournal::~ZunOperationJournal()
{
    // What it leaves on disk is named by the next journal that reads it, in this program
    // or the next.
    QMutexLocker lock(&g_liveMutex);
    liveJournals().remove(m_token);
}

void ZunOperationJournal::setFile(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    m_path = path;
    if (!m_path.isEmpty()) {
        // The fixed scratch name of earlier versions, left by a full disk or a kill, and a
        // scratch file a kill left between its write and its rename (another program's
        // current one is younger).
        QFile::remove(m_path + QStringLiteral(".part"));
        const QFileInfo record(m_path);
        for (const QFileInfo& f : record.dir().entryInfoList({record.fileName() + QStringLiteral(".??????")}, QDir::Files))
            if (f.lastModified().secsTo(QDateTime::currentDateTime()) > 60)
                QFile::remove(f.filePath());
        QString notice;
        // At each connection: what programs that have ended left (an earlier one, one that
        // shared the folder and was killed since); this journal's own entries, and a running
        // program's, are not left over.
        const QJsonObject me = writerOf(m_token);
        QSet<QByteArray> adopted;
        for (Entry e : read(m_path, &notice, &m_readPrint)) {
            const QByteArray writer = keyOf(e.writer);
            if (e.writer == me || m_adopted.contains(writer) || alive(e.writer))
                continue;
            adopted.insert(writer);
            e.id = m_nextId++;
            m_leftOver << e;
        }
        m_adopted += adopted;
        if (!notice.isEmpty())
            m_notices << notice;
    }
    // Rewritten as this program's: its failure is said where it matters, when what was
    // left is named (takeLeftOver) or an operation begins.
    write();
}

int ZunOperationJournal::add(ZunLongOperation kind)
{
    QMutexLocker lock(&m_mutex);
    for (Entry& e : m_running)
        if (e.kind == kind) {
            ++e.holders;
            return e.id;
        }
    Entry e;
    e.id = m_nextId++;
    e.kind = kind;
    e.started = QDateTime::currentDateTimeUtc();
    e.holders = 1;
    m_running << e;
    save();
    return e.id;
}

void ZunOperationJournal::note(int id, const QString& key, const QVariant& value)
{
    QMutexLocker lock(&m_mutex);
    for (Entry& e : m_running)
        if (e.id == id) {
            if (e.detail.value(key) == value)
                return;
            e.detail.insert(key, value);
            save();
            return;
        }
}

void ZunOperationJournal::markStopped(int id)
{
    QMutexLocker lock(&m_mutex);
    for (Entry& e : m_running)
        if (e.id == id && !e.closing) {
            e.closing = true;
            save(); // a quit anyway ends the program with it running: the record says stopped
        }
}

void ZunOperationJournal::remove(int id, bool done)
{
    QMutexLocker lock(&m_mutex);
    for (int i = 0; i < m_running.size(); ++i)
        if (m_running.at(i).id == id) {
            Entry& running = m_running[i];
            running.done = running.done || done;
            if (--running.holders > 0)
                return;
            Entry e = m_running.takeAt(i);
            if (e.closing && !e.done) {
                e.stopped = true;
                m_leftOver << e;
            }
            save();
            return;
        }
}

QList<ZunOperationJournal::Entry> ZunOperationJournal::takeLeftOver()
{
    QMutexLocker lock(&m_mutex);
    const QList<Entry> left = std::exchange(m_leftOver, {});
    if (left.isEmpty())
        return left;
    const QString error = write();
    if (!error.isEmpty()) {
        // A folder that can not be changed keeps the record: it is named this once, and
        // what it can not record is said with it.
        markTold(m_readPrint, true);
        markTold(unwritable(m_path), true);
        m_notices << QStringLiteral("The record of running operations %1 could not be changed (%2): what it names "
                                    "is not named again, and an operation that a kill of the program cuts is not "
                                    "named. Remove it by hand, or let the folder be written.")
                         .arg(QDir::toNativeSeparators(m_path), error);
    }
    return left;
}

QStringList ZunOperationJournal::takeNotices()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_notices, {});
}

void ZunOperationJournal::save()
{
    // Said once, also to a later program, until a record is written again.
    bool wrote = false;
    const QString error = write(&wrote);
    if (!error.isEmpty() && !wasTold(unwritable(m_path)))
        m_notices << QStringLiteral("The record of running operations %1 could not be written (%2): an operation "
                                    "that a kill of the program cuts is not named.")
                         .arg(QDir::toNativeSeparators(m_path), error);
    if (!error.isEmpty() || wrote)
        markTold(unwritable(m_path), !error.isEmpty());
}

QString ZunOperationJournal::write(bool* wrote)
{
    if (m_path.isEmpty())
        return QString();
    // The entries of other programs stay, unless they are this journal's to name.
    const QJsonObject me = writerOf(m_token);
    QList<Entry> all;
    QString notice;
    for (const Entry& e : read(m_path, &notice))
        if (e.writer != me && !m_adopted.contains(keyOf(e.writer)))
            all << e;
    if (!notice.isEmpty())
        m_notices << notice;
    for (Entry e : m_leftOver + m_running) {
        e.writer = me;
        all << e;
    }
    if (all.isEmpty()) {
        QFile file(m_path);
        const bool gone = (!file.exists() && !QFileInfo(m_path).isSymLink()) || file.remove();
        return gone ? QString() : file.errorString();
    }
    QJsonArray list;
    for (const Entry& e : qAsConst(all))
        list.append(QJsonObject {{QStringLiteral("kind"), QLatin1String(nameOf(e.kind))},
                                 {QStringLiteral("started"), e.started.toString(Qt::ISODate)},
                                 {QStringLiteral("stopped"), e.stopped || e.closing},
                                 {QStringLiteral("detail"), QJsonObject::fromVariantMap(e.detail)},
                                 {QStringLiteral("writer"), e.writer}});
    const QString error = replace(m_path, QJsonDocument(QJsonObject {{QStringLiteral("operations"), list}}).toJson());
    if (wrote)
        *wrote = error.isEmpty();
    return error;
}

QList<ZunOperationJournal::Entry> ZunOperationJournal::read(const QString& path, QString* notice, QByteArray* print)
{
    QList<Entry> entries;
    QFile file(path);
    if (!file.exists())
        return entries;
    // Read back like any file: one that is no record is named once, with where it is kept,
    // and is no record any more.
    QString why;
    QByteArray bytes;
    if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
    else if (file.size() > MaxBytes)
        why = QStringLiteral("larger than any record");
    else
        bytes = file.read(MaxBytes + 1);
    file.close();
    const QByteArray named = fingerprint(path, bytes);
    if (print)
        *print = named;
    if (wasTold(named))
        return entries;
    QJsonParseError parse {};
    const QJsonDocument doc = why.isEmpty() ? QJsonDocument::fromJson(bytes, &parse) : QJsonDocument();
    if (why.isEmpty() && parse.error != QJsonParseError::NoError)
        why = parse.errorString();
    else if (why.isEmpty() && !doc.object().value(QStringLiteral("operations")).isArray())
        why = QStringLiteral("no list of operations");
    if (!why.isEmpty()) {
        const QString kept = moveAside(path);
        if (kept.isEmpty())
            markTold(named, true);
        *notice = kept.isEmpty() ? QStringLiteral("The record of running operations %1 could not be read (%2), so an "
                                                  "operation it held is not named; it could not be moved aside either "
                                                  "and is not named again. Remove it by hand.")
                                       .arg(QDir::toNativeSeparators(path), why)
                                 : QStringLiteral("The record of running operations %1 could not be read (%2), so an "
                                                  "operation it held is not named. It is kept in %3.")
                                       .arg(QDir::toNativeSeparators(path), why, QDir::toNativeSeparators(kept));
        return entries;
    }
    // A damaged or tampered record gives at most a few entries of plain values (each names
    // its operation in a box and may have a folder read), the same one once.
    for (const QJsonValue& v : doc.object().value(QStringLiteral("operations")).toArray()) {
        const QJsonObject o = v.toObject();
        Entry e;
        if (!kindOf(o.value(QStringLiteral("kind")).toString(), &e.kind))
            continue;
        e.started = QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODate);
        e.stopped = o.value(QStringLiteral("stopped")).toBool();
        const QJsonObject detail = o.value(QStringLiteral("detail")).toObject();
        for (auto it = detail.begin(); it != detail.end() && e.detail.size() < MaxDetail; ++it)
            if (it.key().size() <= MaxKey && ((it->isString() && it->toString().size() <= MaxText) || it->isDouble()))
                e.detail.insert(it.key(), it->toVariant());
        const QJsonObject writer = o.value(QStringLiteral("writer")).toObject();
        for (const char* key : {"host", "boot"})
            if (writer.value(QLatin1String(key)).isString())
                e.writer.insert(QLatin1String(key), writer.value(QLatin1String(key)).toString().left(255));
        for (const char* key : {"pid", "since", "journal"})
            if (whole(writer.value(QLatin1String(key)), 1e15) >= 0)
                e.writer.insert(QLatin1String(key), writer.value(QLatin1String(key)));
        const bool again = std::any_of(entries.cbegin(), entries.cend(), [&e](const Entry& x) {
            return x.kind == e.kind && x.detail == e.detail && x.writer == e.writer;
        });
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
        // Only the name a connection writes and reads ("00257" is no processor's).
        const QString serial = name.chopped(suffix.size());
        bool ok = false;
        if (serial.toUInt(&ok) > 0xFFFF || !ok || QString::number(serial.toUInt()) != serial)
            continue;
        QString notice;
        QStringList what;
        for (const Entry& e : read(dir.filePath(name), &notice))
            if (!alive(e.writer) && !what.contains(zunLongOperationText(e.kind)))
                what << zunLongOperationText(e.kind);
        if (!notice.isEmpty())
            lines << QStringLiteral("Zun %1: %2").arg(serial, notice);
        if (!what.isEmpty())
            lines << QStringLiteral("Zun %1: %2.").arg(serial, what.join(QStringLiteral(", ")));
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
