#include "ZunSetup.h"

#include "CCmdMap.h"
#include "CZun.h"
#include "CZunBiquadDesign.h"
#include "CZunImageDefaults.h"
#include "CZunFIRLimManager.h"
#include "ZunCrc16.h"
#include "ZunDSPProgramInfo.h"
#include "ZunFirFile.h"
#include "ZunSampleRateRule.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextCodec>

#include <stdexcept>
#include <utility>

namespace
{
// Fixed words of a setup image.
constexpr quint16 FirLow0 = 146, FirHigh0 = 147, FirLow1 = 916, FirHigh1 = 917;
constexpr quint16 DSPProg0 = 103, DSPProg1 = 873;
constexpr quint16 VersionWord = 2;

[[noreturn]] void fail(const QString& text) { throw std::logic_error(text.toStdString()); }

bool validSetupSize(qint64 size)
{
    return size == CZunStatusBuffer::ImageBytes || size == ZunSetup::OldImageBytes1
        || size == ZunSetup::OldImageBytes2;
}

// An entry name that would step out of a folder or start at a root.
bool unsafeEntryName(const QString& name)
{
    const QString n = QString(name).replace('\\', '/');
    return n.startsWith('/') || n == QLatin1String("..") || n.startsWith(QLatin1String("../"))
        || n.contains(QLatin1String("/../")) || n.endsWith(QLatin1String("/..")) || QRegularExpression("^[A-Za-z]:").match(n).hasMatch();
}

QString invalidEntry(const QString& entry, const QString& fileName)
{
    return QStringLiteral("ZunSetup::fromFile() : Invalid file '") + entry + QStringLiteral("' in '") + fileName
         + QStringLiteral("'");
}

// Reads the current entry whole: exactly its declared size, and its checksum must hold.
QByteArray readEntry(QuaZip& zip, qint64 declared, const char* openError, const QString& entry,
                     const QString& fileName)
{
    QuaZipFile zf(&zip);
    if (!zf.open(QIODevice::ReadOnly))
        fail(QString::fromLatin1(openError));
    const QByteArray data = zf.read(declared);
    const bool more = !zf.read(1).isEmpty();
    zf.close();
    if (data.size() != declared || more || zf.getZipError() != UNZ_OK)
        fail(QStringLiteral("ZunSetup::fromFile() : the entry '%1' in '%2' is damaged or not of its declared size.")
                 .arg(entry, fileName));
    return data;
}

void writeEntry(QuaZip& zip, const QString& name, const QByteArray& data)
{
    QuaZipFile out(&zip);
    if (!out.open(QIODevice::WriteOnly, QuaZipNewInfo(name), nullptr, 0, Z_DEFLATED, Z_DEFAULT_COMPRESSION))
        fail(QStringLiteral("ZunSetup::toFile(): Could not open file inside zip."));
    const qint64 written = out.write(data);
    const bool writeOk = written == data.size() && out.getZipError() == ZIP_OK;
    out.close();
    if (!writeOk || out.getZipError() != ZIP_OK)
        fail(QStringLiteral("ZunSetup::toFile(): error writing to setup file! Contact support."));
}
} // namespace

ZunSetup::ZunSetup(CZun* device, const QByteArray& image) : m_device(device)
{
    fromByteArray(image);
}

ZunSetup::ZunSetup(CZun* device, const QString& fileName) : m_device(device)
{
    fromFile(fileName);
}

ZunSetup::~ZunSetup() = default;

void ZunSetup::fromByteArray(QByteArray image)
{
    if (!validSetupSize(image.size()))
        fail(QStringLiteral("ZunSetup::fromByteArray(): invalid setup. Aborting"));
    m_storedId = ZunCrc16(image);
    image.prepend(QByteArray(ImageBytes - image.size(), '\0'));
    const CZunStatusBuffer stored(image);
    importSetup(stored, quint16(stored.getValue(VersionWord) & 0xFFF), m_device);
}

void ZunSetup::fromFile(const QString& fileName)
{
    QuaZip zip(fileName);
    zip.setFileNameCodec("IBM866");
    if (!zip.open(QuaZip::mdUnzip)) {
        QFile f(fileName);
        if (!f.open(QIODevice::ReadOnly))
            fail(QStringLiteral("Load Setup: File: %1 not found. Aborting.").arg(fileName));
        // A damaged archive is not an old raw image; neither is anything of another size.
        if (f.peek(4) == QByteArray("PK\x03\x04", 4))
            fail(QStringLiteral("ZunSetup::fromFile() : Invalid file '") + fileName + QStringLiteral("'"));
        if (!validSetupSize(f.size()))
            fail(QStringLiteral("ZunSetup::fromByteArray(): invalid setup. Aborting"));
        fromByteArray(f.read(ImageBytes));
        return;
    }
    const int count = zip.getEntriesCount();
    if (count < 0)
        fail(QStringLiteral("ZunSetup::fromFile() : Invalid nr of files in '") + fileName + QStringLiteral("'"));
    if (count == 0 || count > 3)
        fail(QStringLiteral("ZunSetup::fromFile() : Invalid file '") + fileName + QStringLiteral("'"));

    // The whole directory is checked before any entry is read.
    struct Entry { QString name; qint64 size; };
    Entry setup{QString(), -1};
    QList<Entry> firs;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info))
            fail(QStringLiteral("ZunSetup::fromFile(): Could not get FileInfo"));
        const qint64 size = qint64(info.uncompressedSize);
        if (unsafeEntryName(info.name))
            fail(invalidEntry(info.name, fileName));
        if (info.name.contains(QLatin1String("Setup"), Qt::CaseInsensitive)) {
            if (!setup.name.isEmpty())
                fail(QStringLiteral("ZunSetup::fromFile() : '%1' holds more than one setup.").arg(fileName));
            if (!validSetupSize(size))
                fail(QStringLiteral("ZunSetup::fromFile() : the setup '%1' in '%2' has an invalid size (%3 bytes).")
                         .arg(info.name, fileName).arg(size));
            setup = {info.name, size};
        } else if (count > 1 && info.name.contains(QLatin1String("FIR"), Qt::CaseInsensitive)) {
            if (size <= 0 || size > MaxFirEntryBytes)
                fail(QStringLiteral("ZunSetup::fromFile() : the FIR set '%1' in '%2' has an invalid size (%3 bytes).")
                         .arg(info.name, fileName).arg(size));
            firs.append({info.name, size});
        } else {
            fail(invalidEntry(info.name, fileName));
        }
    }
    if (zip.getZipError() != UNZ_OK)
        fail(QStringLiteral("ZunSetup::fromFile() : Invalid file '") + fileName + QStringLiteral("'"));
    if (setup.name.isEmpty())
        fail(QStringLiteral("ZunSetup::fromFile() : '%1' holds no setup.").arg(fileName));

    // Setup first: the FIR entries are tied to the ids in its image.
    if (!zip.setCurrentFile(setup.name))
        fail(QStringLiteral("ZunSetup::fromFile(): Could not get FileInfo"));
    const QByteArray image = readEntry(zip, setup.size, "ZunSetup::fromFile(): error opening setup file.", setup.name,
                                       fileName);
    QList<QShPtrFLE> sets;
    for (const Entry& e : firs) {
        if (!zip.setCurrentFile(e.name))
            fail(QStringLiteral("ZunSetup::fromFile(): Could not get FileInfo"));
        const QByteArray data = readEntry(zip, e.size, "ZunSetup::fromFile(): error opening FIR file.", e.name, fileName);
        sets.append(QShPtrFLE::create(nullptr, data));
    }
    fromByteArray(image);

    // Everything has been read: now the sets are tied to this image. They are uploaded only
    // once the setup has been accepted: a refused archive changes nothing.
    for (const QShPtrFLE& set : sets) {
        const quint32 key = set->getKey();
        const quint32 id0 = GetActiveFilterIndex(1), id1 = GetActiveFilterIndex(2);
        const int target = id0 == id1 ? 0 : key == id0 ? 1 : key == id1 ? 2 : 0;
        set->update();
        SetFIRIndex(set->computeKey(), target);
    }
    m_carried = sets;
}

void ZunSetup::uploadCarriedSets()
{
    const QList<QShPtrFLE> sets = std::exchange(m_carried, {});
    if (m_device)
        for (const QShPtrFLE& set : sets)
            emit m_device->signal_UploadFIRFilter(set, 0);
}

void ZunSetup::toFile(const QString& folder, int number)
{
    QShPtrFLE set0, set1;
    if (m_device && m_device->GetFIRLimManager()) {
        set0 = m_device->GetFIRLimManager()->GetFIRFilter(GetActiveFilterIndex(1));
        set1 = m_device->GetFIRLimManager()->GetFIRFilter(GetActiveFilterIndex(2));
    }
    toFile(folder, number, set0, set1);
}

void ZunSetup::toFile(const QString& folder, int number, QShPtrFLE set0, QShPtrFLE set1)
{
    const QString openError = QStringLiteral("ZunSetup::toFile(): Could not store setup, unable to open file.");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        fail(openError);
    // The archive is built in memory and the file replaced in one step: the manager thread
    // rewrites cache files while others may read or copy them, and a half-written file
    // would be taken for a damaged setup.
    QBuffer buffer;
    QuaZip zip(&buffer);
    zip.setFileNameCodec("IBM866");
    if (!zip.open(QuaZip::mdCreate))
        fail(openError);
    writeEntry(zip, QStringLiteral("setup/") + QFileInfo(makeFileName(-1)).completeBaseName() + QStringLiteral(".zun"),
               toByteArray());
    if (set0)
        writeEntry(zip, QStringLiteral("FIR/") + set0->makeFileName(false), set0->toByteArray());
    if (set1 && set1 != set0)
        writeEntry(zip, QStringLiteral("FIR/") + set1->makeFileName(false), set1->toByteArray());
    zip.close();
    if (zip.getZipError() != ZIP_OK)
        fail(QStringLiteral("ZunSetup::toFile(): error writing to setup file! Contact support."));
    QString why;
    if (!ZunFirFile::saveFile(QDir(folder).filePath(makeFileName(number)), buffer.data(), &why))
        fail(QStringLiteral("ZunSetup::toFile(): error writing to setup file %1: %2").arg(makeFileName(number), why));
}

QString ZunSetup::makeFileName(int number) const
{
    const QString name = ZunFirFile::plainFileName(GetSetupName().trimmed());
    if (number < 0)
        return (name.isEmpty() ? QStringLiteral("Setup") : name) + QStringLiteral(".zun");
    return QStringLiteral("Set%1_").arg(number, 2, 10, QChar('0')) + name + QStringLiteral(".zun");
}

int ZunSetup::numberFromFileName(const QString& baseName)
{
    static const QRegularExpression re(QStringLiteral("Set[ ]*(\\d+)"));
    const QRegularExpressionMatch m = re.match(baseName);
    if (!m.hasMatch())
        return -1;
    bool ok = false;
    const int n = m.captured(1).toInt(&ok);
    return ok ? n : -1;
}

QString ZunSetup::outOfRange(quint16 firmware) const
{
    for (int w = 0; w < CZunImageDefaults::ImageWords; ++w) {
        int min = 0, max = 0;
        if (!CZunImageDefaults::rawRange(firmware, quint16(w), &min, &max))
            continue;
        const quint16 raw = getValue(quint16(w));
        const int value = min < 0 ? int(qint16(raw)) : int(raw);
        if (value >= min && value <= max)
            continue;
        // The parameter's own name when the command table has one for that word.
        QString name = QStringLiteral("word %1").arg(w);
        if (CCmdMap::hasVersion(firmware)) {
            CCmdMap map;
            map.setVersion(firmware);
            QStringList names;
            for (const QString& n : map.getKeysBeginningWith(QStringLiteral("Cmd_")))
                if (map.getCmdNr(n) == w)
                    names << n;
            names.sort();
            if (!names.isEmpty())
                name = QStringLiteral("%1 (word %2)").arg(names.first()).arg(w);
        }
        return QStringLiteral("%1 holds %2, outside the range %3 to %4 that the processor accepts")
            .arg(name)
            .arg(value)
            .arg(min)
            .arg(max);
    }
    return QString();
}

QString ZunSetup::outOfRange(const CZun* device) const
{
    const quint16 firmware = device->GetFirmwareVersion();
    const QString bad = outOfRange(firmware);
    if (!bad.isEmpty())
        return bad;
    try {
        ZunSetup(toByteArray()).AdaptDSPProgIDs(device->GetDSPType(), firmware);
    } catch (const std::exception&) {
        return programsRefusal();
    }
    // The sets the archive carries are stored only at a rate the processor's clocks run.
    for (const QShPtrFLE& set : m_carried) {
        const QString rate = ZunSampleRateRule::refusal(*device, set->sampleRate(), false);
        if (!rate.isEmpty())
            return QStringLiteral("its FIR set %1 can not be stored. %2").arg(set->GetName().trimmed(), rate);
    }
    // A routing needs no check of its own: counted on the outputs the processor has (a
    // one-board processor lacks 5-8), no preset takes more sources than there are outputs.
    return QString();
}

QStringList ZunSetup::oddities(const CZun* device) const
{
    QStringList odd;
    const QSharedPointer<CCmdMap> map = device->GetCmdMap();
    if (!map)
        return odd;
    // A clock change leaves EQs above half the new rate: the processor holds them as they
    // are, and so does the setup.
    const int clock = getValue(map->getCmdNr("Cmd_ClockSel"));
    const double step = map->getFltConst("Step_EQ_F");
    const double rate = CZun::SampleRateOfClock(quint16(clock));
    const double highest = CZunBiquadDesign::highestCorner(rate, step);
    const int records = map->getIntConst(QStringLiteral("Inf_DSP_EQ_AnzSet"));
    for (int dsp = 0; dsp < 2; ++dsp) {
        const quint16 base = map->getCmdNr(dsp == 0 ? "Inf_DSP0_ParBaseEQ" : "Inf_DSP1_ParBaseEQ");
        int count = 0;
        double top = 0.0;
        for (int r = 0; r < records; ++r) {
            const double corner = getValue(quint16(base + 5 * r + 1)) * step;
            if (corner > highest + step / 2) {
                ++count;
                top = qMax(top, corner);
            }
        }
        if (count > 0)
            odd << QStringLiteral("%1 EQ(s) of DSP %2 up to %3 Hz, not below half its sample rate (%4 Hz)")
                       .arg(count)
                       .arg(dsp + 1)
                       .arg(top)
                       .arg(rate / 2);
    }
    // A set at another rate than the setup's clock is stored, but not recalled.
    for (const QShPtrFLE& set : m_carried) {
        const QString mismatch = ZunSampleRateRule::mismatch(set->sampleRate(), clock);
        if (!mismatch.isEmpty())
            odd << QStringLiteral("%1 (%2): it is stored, but can not be recalled").arg(mismatch, set->GetName().trimmed());
    }
    return odd;
}

QString ZunSetup::recallMismatch(const CZun* device) const
{
    const QSharedPointer<CCmdMap> map = device->GetCmdMap();
    CZunFIRLimManager* sets = device->GetFIRLimManager();
    if (!map || !sets)
        return QString();
    const int clock = getValue(map->getCmdNr("Cmd_ClockSel"));
    for (int dsp : {1, 2}) {
        const QShPtrFLE set = sets->GetFIRFilter(GetActiveFilterIndex(dsp));
        const QString mismatch = set ? ZunSampleRateRule::mismatch(set->sampleRate(), clock) : QString();
        if (!mismatch.isEmpty())
            return QStringLiteral("%1 (%2)").arg(mismatch, set->GetName().trimmed());
    }
    return QString();
}

QString ZunSetup::programsRefusal() const
{
    return QStringLiteral("it names DSP programs (%1, %2) that this processor can not run. The file is damaged or "
                          "no setup of this processor")
        .arg(GetDSPProgID(1), 4, 16, QLatin1Char('0'))
        .arg(GetDSPProgID(2), 4, 16, QLatin1Char('0'));
}

void ZunSetup::AdaptDSPProgIDs(quint16 dspType, quint16 firmware)
{
    for (quint16 word : {DSPProg0, DSPProg1}) {
        ZunDSPProgramInfo info(getValue(word), firmware);
        info.setDSPType(dspType);
        setValue(word, info.progID());
    }
}

quint32 ZunSetup::GetActiveFilterIndex(int dsp) const
{
    if (dsp == 0 || dsp == 1)
        return quint32(getValue(FirHigh0)) << 16 | getValue(FirLow0);
    if (dsp == 2)
        return quint32(getValue(FirHigh1)) << 16 | getValue(FirLow1);
    throw std::logic_error("CZun::GetActiveFilterIndex(): dsp must be 0, 1 or 2.");
}

void ZunSetup::SetFIRIndex(quint32 id, int dsp)
{
    if (dsp < 0 || dsp > 2)
        throw std::logic_error("CZun::SetFIRIndex(): dsp must be 0, 1 or 2.");
    const quint16 low = quint16(id & 0xFFFF), high = quint16(id >> 16);
    if (dsp != 2) {
        setValue(FirLow0, low);
        setValue(FirHigh0, high);
    }
    if (dsp != 1) {
        setValue(FirLow1, low);
        setValue(FirHigh1, high);
    }
}

quint16 ZunSetup::GetDSPProgID(int dsp) const
{
    if (dsp == 0 || dsp == 1)
        return getValue(DSPProg0);
    if (dsp == 2)
        return getValue(DSPProg1);
    throw std::logic_error("CZun::GetDSPProgID(): dsp must be 0, 1 or 2.");
}
