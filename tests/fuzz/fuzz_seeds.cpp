// Writes the starting inputs of every fuzz target, made by the program's own writers:
//   fuzz_seeds OUT        seeds into OUT/<target>/
//   fuzz_seeds --regressions OUT
//                         the inputs that once gave a wrong result, as kept in
//                         tests/fuzz/regressions/<target>/ (run once when one is added)
// The first bytes of some inputs choose what a target does with the rest (see each target).
#include "AudioIOStatus.h"
#include "CCmdMap.h"
#include "CMacAddr.h"
#include "CZunImageDefaults.h"
#include "ZunBackupRecord.h"
#include "ZunOperations.h"
#include "FilterLimiterEWS.h"
#include "ZunFirFile.h"
#include "ZunSetup.h"
#include "ZunUdpDatagram.h"
#include "ZunCrc16.h"
#include "ZunWire.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>

namespace {

QString g_out;
int g_count = 0;

void put(const QString& target, const QString& name, const QByteArray& content)
{
    QDir().mkpath(g_out + "/" + target);
    QFile f(g_out + "/" + target + "/" + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
        std::exit(1);
    }
    ++g_count;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Little-endian words and frames of the TCP link, as the processor sends them.
template <typename... T> QByteArray le(T... values)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    (s << ... << values);
    return out;
}
QByteArray frame(quint16 id, const QByteArray& payload) { return le(id, quint16(payload.size())) + payload; }

QSharedPointer<CCmdMap> mapFor(quint16 version)
{
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(version);
    return map;
}

QShPtrFLE testSet()
{
    auto set = QShPtrFLE::create(QString(), 48000.0);
    for (int o = 0; o < 4; ++o) {
        QVector<qint32> c(o == 3 ? 0 : 24 * (o + 1));
        for (int i = 0; i < c.size(); ++i)
            c[i] = (i * 7919 + o * 104729) % 0x7FFFFF - 0x400000;
        set->setOutput(o, c, quint16(c.size() / 2), o == 3 ? 2 : o);
    }
    set->setAmpGain(26.0, 1);
    set->SetName(QStringLiteral("Fuzz seed"));
    set->computeKey();
    return set;
}

// One reply for fuzz_dispatch, its command and value as raw numbers of firmware 1080; a
// payload of 255 bytes or more runs to the input's end, so it comes last.
QByteArray dispatchReply(const char* command, quint16 value, quint8 flags, const QByteArray& payload)
{
    const QByteArray length(1, char(payload.size() < 255 ? payload.size() : 255));
    return QByteArray(1, '\xff') + le(quint16(mapFor(1080)->getCmdNr(command))) + QByteArray(1, '\xff') + le(value)
           + QByteArray(1, char(flags)) + length + payload;
}

// A flash directory read back as the processor hands it over: the memory copy, then the block.
QByteArray dispatchedDirectory(const QByteArray& block)
{
    const quint16 copy = mapFor(1080)->getCmdNr("CmdS_CopyMemDir2RxTxBuf");
    return dispatchReply("Cmd_MemCopy", copy, 2, le(copy))
           + dispatchReply("ID_TX_Block", mapFor(1080)->getCmdNr("ID_Block_Flash"), 2, block);
}

// A list-layout flash directory (firmware 1075) with three entries, the first two listed.
QByteArray listDirectory(int count, bool phantomSlot)
{
    const auto map = mapFor(1075);
    const int lists = 4 * map->getCmdNr("ID_SizeOfMemDir");
    QByteArray d(lists, '\0');
    d += QByteArray(map->getCmdNr("ID_SizeMemLists"), char(map->getCmdNr("ID_ListNoEntry")));
    for (int n = 0; n < 3; ++n) {
        qToLittleEndian<quint32>(0x1000u * (n + 1), d.data() + 4 + 8 * n);
        qToLittleEndian<quint32>(0x11111111u * (n + 1), d.data() + 8 + 8 * n);
    }
    d[0] = char(count);
    d[lists + map->getCmdNr("ID_StartListSetup")] = 0;
    d[lists + map->getCmdNr("ID_StartListFilter") + 2] = 1;
    if (phantomSlot)
        d[lists + map->getCmdNr("ID_StartListSetup") + 1] = 2;
    return QByteArray(1, '\0') + d;
}

void seeds(const QString& scratch)
{
    // Datagrams.
    ZunUdpDatagram::Announce a;
    a.mac = CMacAddr::fromSerial(0x0102);
    a.versionWord = 1080 | 1 << 12;
    a.routingWord = 0x0101;
    a.hardwareWord = 0xFF94;
    a.name = QStringLiteral("Stage left");
    a.status = 0xFF70;
    put("udp", "announce", ZunUdpDatagram::encodeAnnounce(a));
    put("udp", "ping", ZunUdpDatagram::ping());
    put("udp", "status-request", ZunUdpDatagram::statusRequest(20, 125));
    for (quint16 version : {quint16(1075), quint16(1080)}) {
        AudioIOStatus status(mapFor(version));
        QByteArray d = le(ZunUdpDatagram::IdStatus, quint16(0)) + QByteArray(int(status.GetRecordSize()), '\0');
        for (int i = 4; i < d.size(); i += 7)
            d[i] = char(i * 13);
        put("udp", QStringLiteral("status-%1").arg(version), d);
    }

    // The TCP stream: selector, chunk size, then frames.
    const QByteArray data(6000, 'z');
    QByteArray chunks;
    for (int i = 0, at = 0; at < data.size(); ++i, at += ZunWire::ChunkSize) {
        const QByteArray part = data.mid(at, ZunWire::ChunkSize);
        chunks += frame(ZunWire::BlockRead, le(quint16(7), quint16(i), quint32(data.size())) + part
                                                + le(ZunWire::byteSum(part.constData(), part.size())));
    }
    put("tcp", "parameter-read", QByteArray("\x01\x05", 2) + frame(ZunWire::ParRead, le(quint16(3), quint16(0x1234))));
    put("tcp", "block-read", QByteArray("\x02\xff", 2) + chunks);
    QByteArray acks;
    for (quint32 received : {0u, 4096u, 5000u})
        acks += frame(ZunWire::BlockWrite, le(quint16(5000), received));
    put("tcp", "block-write", QByteArray("\x03\x10", 2) + acks);
    put("tcp", "refusal", QByteArray("\x01\x03", 2)
                              + frame(ZunWire::Refusal, le(quint16(0xFF83), ZunWire::ParRead, quint16(3))));
    // Block runs (selector 6): a block of 2^31 bytes, and the start of one that fills the
    // transfer buffer.
    put("tcp", "block-run-huge", QByteArray("\x06\x3f\x01", 3) + le(quint32(0x80000000u), quint16(0), quint16(20))
                                     + QByteArray(1, 'h'));
    put("tcp", "block-run-full", QByteArray("\x06\xff\x01", 3) + le(ZunWire::MaxBlockSize, quint16(0), quint16(20))
                                     + QByteArray(1, 'f'));

    // Parameter images of every firmware, also in the two older sizes.
    for (quint16 version = 1075; version <= 1080; ++version)
        put("image", QStringLiteral("image-%1").arg(version), CZunImageDefaults::defaultImageBytes(version));
    put("image", "image-3396", CZunImageDefaults::defaultImageBytes(1076).left(3396));
    put("image", "image-3394", CZunImageDefaults::defaultImageBytes(1075).left(3394));

    // Flash directories: selector byte (even: list layout, odd: entry layout), then the block.
    put("memdir", "list-layout", listDirectory(3, false));
    QByteArray entries(1, '\x01');
    for (int n = 0; n < 4; ++n) {
        QByteArray e(10, '\0');
        qToLittleEndian<quint32>(0x1000u * n, e.data());
        qToLittleEndian<quint32>(0x22220000u + n, e.data() + 4);
        e[8] = char(1 + n % 3);
        e[9] = char(n == 3 ? 254 : n);
        entries += e;
    }
    put("memdir", "entry-layout", entries);

    // FIR/limiter sets: form byte, two cut bytes, then the form's bytes.
    const QShPtrFLE set = testSet();
    const QByteArray image = set->toByteArray();
    const QByteArray noCut("\0\0", 2);
    put("fir", "flash", QByteArray(1, '\0') + noCut + image);
    put("fir", "raw", QByteArray(1, '\1') + noCut + image);
    ZunFirFile::writeZip(scratch + "/a.fir", "a.blk", image);
    put("fir", "zip", QByteArray(1, '\1') + noCut + fileBytes(scratch + "/a.fir"));
    ZunFirFile::writeXml(scratch + "/a.xml", image);
    put("fir", "xml-file", QByteArray(1, '\1') + noCut + fileBytes(scratch + "/a.xml"));
    ZunFirFile::writeBlk(scratch + "/b.blk", image);
    const QByteArray fcs = fileBytes(scratch + "/b.fcs");
    put("fir", "blk", QByteArray(1, '\2') + le(quint16(fcs.size())) + fcs + fileBytes(scratch + "/b.blk"));
    ZunFirFile::writeBlkZip(scratch + "/c.zip", "c", image);
    put("fir", "blk-zip", QByteArray(1, '\3') + noCut + fileBytes(scratch + "/c.zip"));
    put("fir", "xml", QByteArray(1, '\4') + noCut + ZunFirFile::xmlFromImage(image));

    // CSV lists: sample-rate byte, then the text.
    put("csv", "list", QByteArray(1, '\1') + "Name;Kind;Freq;Gain;Q\n1;peq;1000;3;1.4\r\n2;lp;80;2;4\r"
                                             "3;hp;12000;3;6;0.5\n4;ap;500;7;2\n\n5;peq;15;-99;0.1\n");

    // Setup archives and an older raw image file.
    ZunSetup setup(nullptr, CZunImageDefaults::defaultImageBytes(1080));
    setup.toFile(scratch, 1, set, set);
    put("setup", "archive", fileBytes(scratch + "/" + setup.makeFileName(1)));
    put("setup", "raw-image", CZunImageDefaults::defaultImageBytes(1080));

    // Configuration folders: flags byte, then records of name index (fuzz_configfolder.cpp:
    // 0 Set01_Main.zun, 4 Main.zun, 1 Set02_Side.zun, 5 01_Main.fir), length and content.
    const QByteArray archive = fileBytes(scratch + "/" + setup.makeFileName(1));
    const QByteArray firFile = fileBytes(scratch + "/a.fir");
    auto record = [](int name, const QByteArray& content) {
        if (content.size() > 0xFFFF) {
            std::fprintf(stderr, "configfolder seed file too large\n");
            std::exit(1);
        }
        return QByteArray(1, char(name)) + le(quint16(content.size())) + content;
    };
    put("configfolder", "good", QByteArray(1, '\0') + record(5, firFile) + record(0, archive));
    put("configfolder", "truncated-setup",
        QByteArray(1, '\0') + record(5, firFile) + record(0, archive.left(archive.size() / 2)));
    put("configfolder", "renamed", QByteArray(1, '\0') + record(4, archive) + record(1, firFile));

    // A garbage collection's record of its backup, as the collection writes it.
    QString unwritten;
    if (!ZunBackupRecord(42, {{"Thru___35303c0.fir", -1, 0x035303c0u}, {"Set01_Main.zun", 1, 0xFFFFFFFFu}})
             .write(scratch, &unwritten)) {
        std::fprintf(stderr, "cannot write a backup record: %s\n", qPrintable(unwritten));
        std::exit(1);
    }
    put("backuprecord", "written", fileBytes(scratch + "/" + ZunBackupRecord::FileName));

    // The record of the operations running, as a program writes it while a load and a
    // firmware update run, the firmware update's window closed anyway; one of an earlier
    // version (no writer); and one cut short.
    {
        const QString operations = scratch + "/42" + ZunOperationJournal::Suffix;
        ZunOperations list([]() { return true; }, []() {});
        list.journal()->setFile(operations);
        const auto load = list.begin(ZunLongOperation::ConfigLoad, 0);
        list.note(ZunLongOperation::ConfigLoad, "folder", "/home/show/Zun_Config/42_load");
        const auto firmware = list.begin(ZunLongOperation::Firmware, ZunOperation::KeepAlive);
        list.note(ZunLongOperation::Firmware, "pieces", 8);
        list.note(ZunLongOperation::Firmware, "written", 5);
        list.markStopped();
        const QByteArray written = fileBytes(operations);
        put("operationsrecord", "written", written);
        put("operationsrecord", "cut", written.left(written.size() / 2));
    }
    put("operationsrecord", "earlier-version",
        R"({"operations":[{"kind":"wizard","started":"2026-01-02T03:04:05Z","stopped":false,"detail":{}}]})");

    // Images a device applies: a fresh processor's, and one with other gains and routing.
    put("liveimage", "fresh-1080", CZunImageDefaults::defaultImageBytes(1080));
    QByteArray moved = CZunImageDefaults::defaultImageBytes(1080);
    for (int i = 0; i < moved.size(); i += 97)
        moved[i] = char(i * 31);
    put("liveimage", "changed-1080", moved);

    // The gain page's EQ-list file.
    put("eqlist", "list", "Name;Kind;Freq;Gain;Q\n1;peq;1000;3;1.4\n2;lp;80;2;4\n3;hp;12000;3;6;0.5\n");

    // Replies: selector (even: version probe, odd: hardware), then the reply bytes.
    put("replies", "version-1077", QByteArray("\0", 1) + frame(0xFF0A, le(quint16(1077 | 1 << 12))));
    put("replies", "version-short", QByteArray("\0", 1) + QByteArray("\x0a\xff\x02", 3));
    put("replies", "hardware", QByteArray("\1", 1) + le(quint32(0x0F80), quint16(3)));

    // The reply dispatcher: a flash directory, an image, a status block and refusals.
    const auto m = mapFor(1080);
    const quint16 copyImage = m->getCmdNr("CmdS_CopyDSPVar2RxTxBuf");
    put("dispatch", "directory", dispatchedDirectory(entries.mid(1)));
    put("dispatch", "image", dispatchReply("Cmd_MemCopy", copyImage, 2, le(copyImage))
                                 + dispatchReply("ID_TX_Block", m->getCmdNr("ID_Block_Flash"), 2,
                                                 CZunImageDefaults::defaultImageBytes(1080)));
    QByteArray statusRecord(108, '\0');
    qToLittleEndian<quint16>(m->getCmdNr("Msg_CmdChangeN"), statusRecord.data() + 2 * m->getCmdNr("Stat_Status"));
    put("dispatch", "status-and-refusals",
        dispatchReply("ID_TX_Block", m->getCmdNr("ID_Block_DSP_Stat"), 2, statusRecord)
            + dispatchReply("Cmd_0_MasterMute", 1, 2, le(quint16(1)))
            + dispatchReply("Cmd_1_MasterMute", 1, 1, le(quint16(0xE003)))
            + dispatchReply("Cmd_SetupSelect", 3, 2, le(quint16(3)))
            + dispatchReply("Cmd_DSP_Boot", 0, 1, le(quint16(0xE005)))
            + dispatchReply("Cmd_SetupStore", 2, 4, QByteArray())
            + dispatchReply("ID_RX_Block_Start", 64, 3, le(quint16(0xE001)))
            + dispatchReply("ID_TX_Hardware", 0, 2, le(quint32(0x0F80), quint16(3))));

    // The neighbour table as /proc/net/arp shows it.
    put("neighbours", "arp", "IP address       HW type     Flags       HW address            Mask     Device\n"
                             "10.77.0.11       0x1         0x2         5a:75:6e:00:01:02     *        zbr0\n"
                             "10.77.0.12       0x1         0x0         00:00:00:00:00:00     *        zbr0\n");

    // ICMP echo replies: from a raw socket (IPv4 header in front) and a datagram socket.
    const QByteArray echo = QByteArray::fromHex("0000abcd12340001") + "ZunScan!";
    put("icmp", "raw-reply", QByteArray(1, '\1') + QByteArray::fromHex("4500001c00000000400100000a4d000b0a4d0001") + echo);
    put("icmp", "datagram-reply", QByteArray(1, '\0') + echo);

    // The start-up INI file.
    put("ini", "config", "developer=1\nverboseLevel=3\nuseNIC=2\nSignalDetectionLevelIn=-60\n"
                         "SignalDetectionLevelOut=-50\nlevelColor=#00ff00\ngainRedColor=red\n"
                         "buttonColor=#404040\nwindowColor=0x202020\n");
}

void regressions()
{
    // A FIR file whose DSP limiter words disagree with its limiter values (checksum
    // repaired): was accepted with words that do not limit.
    QByteArray forged = testSet()->toByteArray();
    for (int i = 0; i < CBlockFIR::Outputs * CBlockFIR::DspLimiterWords * 3; ++i)
        forged[CBlockFIR::OffDspLimiter + i] = char(0x7F);
    forged[CBlockFIR::OffParamCrc] = 0;
    forged[CBlockFIR::OffParamCrc + 1] = 0;
    const quint16 crc = Crc16_8BB7(forged.constData(), CBlockFIR::ParamAreaSize);
    qToLittleEndian<quint16>(crc, forged.data() + CBlockFIR::OffParamCrc);
    put("fir", "forged-limiter-words", QByteArray(1, '\1') + QByteArray("\0\0", 2) + forged);
    // An old-layout directory whose list names an entry beyond its count: a phantom setup.
    put("memdir", "phantom-entry", listDirectory(2, true));
    // Corners at and above half the sample rate (48 kHz): were accepted.
    put("csv", "half-the-rate", QByteArray(1, '\1') + "1;peq;24000;3;1\n2;hp;30000;3;10;1\n");
    // A flash directory with an entry of unknown type: its error left the GUI thread's
    // event loop and ended the program.
    QByteArray unknown(10, '\0');
    unknown[8] = char(0x7F);
    put("dispatch", "unknown-entry-type", dispatchedDirectory(unknown));
    // Ids outside what a flash lists: were read as undefined conversions, and trusted.
    put("backuprecord", "id-minus-one", R"({"processor": 42, "files": [{"file": "a.fir", "position": -1, "id": -1}]})");
    put("backuprecord", "id-1e20", R"({"processor": 42, "files": [{"file": "a.fir", "position": -1, "id": 1e20}]})");
    // Duplicate keys, one of them a list: the parser keeps one of each (and Qt's parser
    // leaks the list it replaces: tests/fuzz/lsan.supp).
    put("backuprecord", "duplicate-keys",
        R"({"processor": 42, "files": [{"file": "a.fir", "position": -1, "id": 5}], "files": [{"file": "b.fir", "file": "c.fir", "position": -1, "id": 6}]})");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool kept = args.value(0) == QLatin1String("--regressions");
    g_out = args.value(kept ? 1 : 0);
    if (g_out.isEmpty()) {
        std::fprintf(stderr, "usage: fuzz_seeds [--regressions] OUTDIR\n");
        return 2;
    }
    QTemporaryDir scratch;
    if (kept)
        regressions();
    else
        seeds(scratch.path());
    std::printf("%d inputs written to %s\n", g_count, qPrintable(g_out));
    return 0;
}
