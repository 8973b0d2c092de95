// The record of a processor's running operations, read back as the next start and the next
// connection read it. Whatever the file holds: a record that can not be read is said once,
// with its bytes kept aside where it says; one that can gives a few entries of known kinds
// with short plain notes, and is said no more once a connection has taken them; a program
// killed before it named them leaves them for the next, which reads the same operations.
//
// Input: the bytes of the record file.
#include "FuzzSupport.h"
#include "ZunOperationJournal.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>

namespace {
// An operation by what tells it apart: its kind and its notes.
QString shown(const ZunOperationJournal::Entry& e)
{
    return zunLongOperationText(e.kind)
        + QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(e.detail)).toJson(QJsonDocument::Compact));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    QStandardPaths::setTestModeEnabled(true); // what the record keeps in the settings
    const QDir folder(ZunFuzz::scratch(QStringLiteral("config")));
    static const bool made = QDir().mkpath(folder.path());
    ZUN_FUZZ_CHECK(made);
    for (const QString& f : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(folder.filePath(f));
    const QString file = folder.filePath(QStringLiteral("42") + ZunOperationJournal::Suffix);
    const QByteArray bytes = ZunFuzz::bytes(data, size);
    ZunFuzz::writeFile(file, bytes);

    // The start: a record that can not be read is named, and kept aside with its bytes.
    const QStringList start = ZunOperationJournal::unfinishedIn(folder.path());
    ZUN_FUZZ_CHECK(start.size() <= 2);
    if (!start.filter(QStringLiteral("could not be read")).isEmpty()) {
        ZUN_FUZZ_CHECK(!QFileInfo::exists(file));
        const QStringList kept = folder.entryList(QDir::Files);
        ZUN_FUZZ_CHECK(kept.size() == 1 && start.first().contains(folder.filePath(kept.first())));
        QFile aside(folder.filePath(kept.first()));
        ZUN_FUZZ_CHECK(aside.open(QIODevice::ReadOnly) && aside.readAll() == bytes);
        ZunOperationJournal connection;
        connection.setFile(file);
        ZUN_FUZZ_CHECK(connection.takeLeftOver().isEmpty() && connection.takeNotices().isEmpty());
        return 0;
    }

    // A connection whose program is killed before it names them, then the next one.
    QStringList first;
    {
        ZunOperationJournal killed;
        killed.setFile(file);
        QFile rewritten(file);
        const QByteArray left = rewritten.open(QIODevice::ReadOnly) ? rewritten.readAll() : QByteArray();
        rewritten.close();
        // What the kill leaves: the record as rewritten, whatever this journal does after.
        const auto restore = qScopeGuard([&]() {
            if (!left.isEmpty())
                ZunFuzz::writeFile(file, left);
        });
        ZUN_FUZZ_CHECK(killed.takeNotices().isEmpty());
        QSet<QString> named;
        for (const ZunOperationJournal::Entry& e : killed.takeLeftOver()) {
            ZUN_FUZZ_CHECK(e.detail.size() <= 6 && ZunOperationJournal::describe(e).size() < 2 * 4200);
            for (const QVariant& v : e.detail)
                ZUN_FUZZ_CHECK(v.type() == QVariant::Double || v.toString().size() <= 4096);
            named.insert(shown(e));
        }
        first = named.values();
    }
    ZUN_FUZZ_CHECK(first.size() <= 32);
    // The rewrite above was the killed program's: the next names what it named (the same
    // operation once), and then the record is gone but for what programs of another
    // computer wrote.
    ZunOperationJournal next;
    next.setFile(file);
    QSet<QString> again;
    for (const ZunOperationJournal::Entry& e : next.takeLeftOver())
        again.insert(shown(e));
    ZUN_FUZZ_CHECK(next.takeNotices().isEmpty());
    std::sort(first.begin(), first.end());
    QStringList second = again.values();
    std::sort(second.begin(), second.end());
    ZUN_FUZZ_CHECK(first == second);
    ZunOperationJournal last;
    last.setFile(file);
    ZUN_FUZZ_CHECK(last.takeLeftOver().isEmpty() && last.takeNotices().isEmpty());
    return 0;
}
