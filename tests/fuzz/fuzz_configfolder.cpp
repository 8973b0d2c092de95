// A configuration folder as "Upload Config to Zun" reads it before anything is written:
// FIR/limiter sets and setup archives, checked against a device that is not connected.
// Whatever the files hold, the check names every file it can not load and never says it
// can load what it refused.
//
// Input: a flags byte (bit 0: FIR sets are also read from .xml files), then records of
// a name byte (an index into names below), a little-endian 16-bit length and that many
// bytes of content, cut to what is left of the input. A later record of the same name
// replaces the earlier file.
#include "FuzzDevice.h"
#include "ZunConfigFolder.h"

#include <QFileInfo>
#include <QSet>
#include <QSettings>

#include <stdexcept>

namespace {

// Names as "Save config to PC" writes them, and the near misses an operator makes.
const char* const names[] = {
    "Set01_Main.zun", "Set02_Side.zun", "Set 1_Again.zun", "Set63_Far.zun",
    "Main.zun",       "01_Main.fir",    "02_Side.fir",     "03_Main.xml",
};
constexpr int NameCount = int(sizeof(names) / sizeof(names[0]));

void useXml(bool on)
{
    static int current = -1;
    if (current != int(on)) {
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).setValue(QStringLiteral("xmlFir"), on);
        current = int(on);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CZun* zun = ZunFuzz::device();
    if (size < 1)
        return 0;
    useXml(data[0] & 1);

    // One folder for the run, in memory where the system has such a place (the file
    // system's work, not the check, is most of the time per input); emptied of the
    // names below before each input.
    static QTemporaryDir root(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                  ? QStringLiteral("/dev/shm/zunfuzz-XXXXXX")
                                  : QDir::tempPath() + QStringLiteral("/zunfuzz-XXXXXX"));
    ZUN_FUZZ_CHECK(root.isValid());
    const QDir dir(root.path());
    for (const char* name : names)
        QFile::remove(dir.filePath(QString::fromLatin1(name)));

    QSet<QString> written;
    size_t at = 1;
    while (at < size) {
        const QString name = QString::fromLatin1(names[data[at] % NameCount]);
        size_t length = size - at - 1;
        if (size - at >= 3) {
            length = qMin<size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
            at += 3;
        } else {
            at += 1;
        }
        ZunFuzz::writeFile(dir.filePath(name), ZunFuzz::bytes(data + at, length));
        written.insert(name);
        at += length;
    }

    const ZunConfigFolder found(zun, root.path());
    // Every refused or skipped file is named; nothing refused is counted as loadable.
    ZUN_FUZZ_CHECK(found.setCount() >= 0 && found.setupCount() >= 0);
    ZUN_FUZZ_CHECK(found.setCount() + found.setupCount() <= written.size());
    ZUN_FUZZ_CHECK(found.refused().size() + found.skipped().size() <= written.size() + 1);
    ZUN_FUZZ_CHECK(!found.canLoad() || found.refused().isEmpty());
    ZUN_FUZZ_CHECK(!found.report().isEmpty());
    return 0;
}
