// The record a garbage collection keeps in its backup folder, read back as the restore
// reads it. Whatever the file holds, a record is trusted whole or refused whole: one that
// is trusted names only plain files of the folder, each once, with an id the flash can
// list and a position, and reads back the same once written again.
//
// Input: the bytes of the record file.
#include "FuzzSupport.h"
#include "ZunBackupRecord.h"

#include <QFileInfo>
#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    const QString read = ZunFuzz::scratch(QStringLiteral("read"));
    const QString written = ZunFuzz::scratch(QStringLiteral("written"));
    static const bool made = QDir().mkpath(read) && QDir().mkpath(written);
    ZUN_FUZZ_CHECK(made);
    ZunFuzz::writeFile(QDir(read).filePath(QString::fromLatin1(ZunBackupRecord::FileName)), ZunFuzz::bytes(data, size));

    const ZunBackupRecord record = ZunBackupRecord::read(read);
    if (!record.refusal(record.processor()).isEmpty()) {
        ZUN_FUZZ_CHECK(record.entries().isEmpty());
        return 0;
    }
    ZUN_FUZZ_CHECK(record.processor() >= 0 && record.processor() <= 0xFFFF);
    ZUN_FUZZ_CHECK(!record.entries().isEmpty());
    QSet<QString> files;
    for (const ZunBackupRecord::Entry& e : record.entries()) {
        ZUN_FUZZ_CHECK(!e.file.isEmpty() && QFileInfo(e.file).fileName() == e.file && !e.file.contains('\\'));
        ZUN_FUZZ_CHECK(e.file != QLatin1String(ZunBackupRecord::FileName) && !files.contains(e.file));
        ZUN_FUZZ_CHECK(e.position >= -1 && e.position <= 0xFFFF && e.id != 0);
        ZUN_FUZZ_CHECK(record.entry(e.file) == &e);
        files.insert(e.file);
    }
    QString error;
    ZUN_FUZZ_CHECK(record.write(written, &error));
    const ZunBackupRecord again = ZunBackupRecord::read(written);
    ZUN_FUZZ_CHECK(again.refusal(record.processor()).isEmpty() && again.entries() == record.entries());
    return 0;
}
