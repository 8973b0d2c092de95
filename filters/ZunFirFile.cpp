#include "ZunFirFile.h"

#include "CBlockFIR.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextCodec>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>
#include <unzip.h>

#include <stdexcept>

namespace {

[[noreturn]] void refuse(const QString& file, const QString& why)
{
    throw std::logic_error(QString("FIR file '%1' can not be read: %2").arg(file, why).toStdString());
}

QByteArray readBounded(const QString& path, const QString& shownName)
{
    QFileInfo fi(path);
    if (!fi.exists() || !fi.isFile())
        refuse(shownName, QString("file '%1' not found").arg(path));
    if (fi.size() > ZunFirFile::MaxFileSize)
        refuse(shownName, QString("the file is larger than %1 bytes").arg(ZunFirFile::MaxFileSize));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        refuse(shownName, f.errorString());
    // Read at most one byte more than allowed, so a file that grew meanwhile is caught.
    QByteArray data = f.read(ZunFirFile::MaxFileSize + 1);
    if (data.size() > ZunFirFile::MaxFileSize)
        refuse(shownName, "the file is too large");
    return data;
}

QByteArray splitBlocks(const QByteArray& image) { return image.mid(CBlockFIR::ParamAreaSize); }
QByteArray splitParams(const QByteArray& image) { return image.left(CBlockFIR::ParamAreaSize); }

QByteArray joinBlkFcs(const QByteArray& fcs, const QByteArray& blk, const QString& file)
{
    if (fcs.size() != CBlockFIR::ParamAreaSize)
        refuse(file, QString("the .fcs part has %1 bytes, it must have %2").arg(fcs.size()).arg(CBlockFIR::ParamAreaSize));
    if (blk.size() > CBlockFIR::MaxImageSize - CBlockFIR::ParamAreaSize)
        refuse(file, "the .blk part is too large");
    return fcs + blk;
}

QByteArray readZip(QByteArray data, const QString& file)
{
    QBuffer buffer(&data);
    QuaZip zip(&buffer);
    if (!zip.open(QuaZip::mdUnzip))
        refuse(file, "not a valid zip archive");
    const int count = zip.getEntriesCount();
    if (count < 1 || count > 2)
        refuse(file, QString("the archive holds %1 entries, a FIR archive holds 1 or 2").arg(count));
    const QList<QuaZipFileInfo64> infos = zip.getFileInfoList64();
    if (infos.size() != count)
        refuse(file, "the archive directory is damaged");

    QList<QByteArray> contents;
    for (const QuaZipFileInfo64& info : infos) {
        if (!ZunFirFile::isSafeEntryName(info.name))
            refuse(file, QString("unsafe entry name '%1'").arg(info.name));
        if (info.uncompressedSize > quint64(CBlockFIR::MaxImageSize))
            refuse(file, QString("entry '%1' is too large (%2 bytes)").arg(info.name).arg(info.uncompressedSize));
        if (!zip.setCurrentFile(info.name))
            refuse(file, QString("entry '%1' not found").arg(info.name));
        QuaZipFile entry(&zip);
        if (!entry.open(QIODevice::ReadOnly))
            refuse(file, QString("entry '%1' can not be opened").arg(info.name));
        const QByteArray content = entry.read(CBlockFIR::MaxImageSize + 1);
        const bool sizeOk = quint64(content.size()) == info.uncompressedSize && content.size() <= CBlockFIR::MaxImageSize;
        entry.close();   // checks the entry's CRC-32
        if (entry.getZipError() != UNZ_OK)
            refuse(file, QString("entry '%1' is corrupt (CRC or data error)").arg(info.name));
        if (!sizeOk)
            refuse(file, QString("entry '%1' does not have its declared size").arg(info.name));
        contents.append(content);
    }
    if (count == 1)
        return contents.first();

    const QString n0 = infos.at(0).name.toLower(), n1 = infos.at(1).name.toLower();
    if (n0.endsWith(".fcs") && n1.endsWith(".blk"))
        return joinBlkFcs(contents.at(0), contents.at(1), file);
    if (n0.endsWith(".blk") && n1.endsWith(".fcs"))
        return joinBlkFcs(contents.at(1), contents.at(0), file);
    refuse(file, "a two-entry archive must hold one .blk and one .fcs entry");
}

QByteArray zipBytes(const QList<QPair<QString, QByteArray>>& entries, bool* ok)
{
    *ok = false;
    QByteArray out;
    QBuffer buffer(&out);
    QuaZip zip(&buffer);
    if (!zip.open(QuaZip::mdCreate))
        return {};
    for (const auto& e : entries) {
        if (!ZunFirFile::isSafeEntryName(e.first))
            return {};
        QuaZipFile f(&zip);
        if (!f.open(QIODevice::WriteOnly, QuaZipNewInfo(e.first)))
            return {};
        if (f.write(e.second) != e.second.size())
            return {};
        f.close();
        if (f.getZipError() != ZIP_OK)
            return {};
    }
    zip.close();
    if (zip.getZipError() != ZIP_OK)
        return {};
    *ok = true;
    return out;
}

const char* const kLimiterAttrs[CBlockFIR::LimiterFields] = {
    "gain", "continuous", "surge", "surgeduration", "thermal", "rmstime", "peak", "impedance", "maxlevel"};

// Reads the limiter value of a field through the public accessors of the set.
double limiterValue(const CBlockFIR& s, int o, int field)
{
    switch (field) {
    case 0: return s.ampGain(o);
    case 3: return s.surgeDuration(o);
    case 5: return s.rmsTimeConstant(o);
    case 7: return s.impedance(o);
    case 8: return s.maxOutputLevel(o, 3, 1);
    default: return s.limiterThreshold(field, o, 0, 0);
    }
}

// The first line (from 1) holding bytes that are not UTF-8; 0 when every line is. A file
// that declares another encoding is left to the XML reader.
int firstLineNotUtf8(const QByteArray& xml)
{
    const QByteArray head = xml.left(100).toLower();
    const int declared = head.indexOf("encoding=");
    if (declared >= 0 && !head.mid(declared + 10, 5).startsWith("utf-8"))
        return 0;
    QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
    const QList<QByteArray> lines = xml.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QTextCodec::ConverterState state;
        utf8->toUnicode(lines.at(i).constData(), lines.at(i).size(), &state);
        if (state.invalidChars > 0 || state.remainingChars > 0)
            return i + 1;
    }
    return 0;
}

// A CBlockFIR that can take raw limiter values without the setters' change thresholds.
class XmlBuilder : public CBlockFIR
{
public:
    void setField(int o, int f, double v) { setLimiterField(o, f, v); }
};

} // namespace

bool ZunFirFile::saveFile(const QString& path, const QByteArray& bytes, QString* why)
{
    QSaveFile f(path);
    // Flushed before the commit: the commit of this Qt keeps a file that its last write
    // could not fill (a full disk) and reports success.
    const bool ok = f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush() && f.commit();
    if (!ok && why)
        *why = f.errorString();
    return ok;
}

bool ZunFirFile::isSafeEntryName(const QString& name)
{
    if (name.isEmpty() || name == "." || name == "..")
        return false;
    if (name.contains('/') || name.contains('\\') || name.contains(':') || name.contains(QChar(0)))
        return false;
    return true;
}

QString ZunFirFile::plainFileName(const QString& name)
{
    QString plain = name;
    for (QChar& c : plain) {
        const ushort u = c.unicode();
        const bool safe = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')
            || (u < 128 && QByteArrayLiteral(",^&'@{}[]$=!-#()%.+~_").contains(char(u)));
        if (!safe)
            c = QChar(' ');
    }
    int start = 0;
    while (start < plain.size() && (plain.at(start) == QLatin1Char('.') || plain.at(start) == QLatin1Char(' ')))
        ++start;
    return plain.mid(start);
}

QString ZunFirFile::companionOf(const QString& blkPath)
{
    QFileInfo fi(blkPath);
    return fi.path() + "/" + fi.completeBaseName() + ".fcs";
}

QByteArray ZunFirFile::readImage(const QString& fileName, QStringList* notes)
{
    const QByteArray data = readBounded(fileName, fileName);
    if (QFileInfo(fileName).suffix().compare("blk", Qt::CaseInsensitive) == 0) {
        const QByteArray fcs = readBounded(companionOf(fileName), fileName);
        return joinBlkFcs(fcs, data, fileName);
    }
    if (data.startsWith("PK\x03\x04") || data.startsWith("PK\x05\x06"))
        return readZip(data, fileName);
    if (data.startsWith("ZFIR"))
        return data;
    const QByteArray start = data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
    if (start.trimmed().startsWith('<')) {
        try {
            return imageFromXml(data, notes);
        } catch (const CBlockFIR::invalid_filter&) {
            throw;
        } catch (const std::logic_error& e) {
            refuse(fileName, QString::fromStdString(e.what()));
        }
    }
    refuse(fileName, "unknown file format");
}

QByteArray ZunFirFile::imageFromXml(const QByteArray& xml, QStringList* notes)
{
    auto fail = [](const QString& why) -> void {
        throw std::logic_error(("invalid XML FIR data: " + why).toStdString());
    };
    QXmlStreamReader r(xml);
    if (!r.readNextStartElement()) {
        // The reader stops at the first byte it cannot decode, before any element: the
        // file's text is named, not a root element it never reached.
        const int line = firstLineNotUtf8(xml);
        if (line > 0)
            fail(QString("line %1 holds bytes that are not UTF-8, the encoding the file declares or XML assumes "
                         "(saved as Latin-1?); save the file as UTF-8")
                     .arg(line));
        if (r.hasError())
            fail(QString("line %1: %2").arg(r.lineNumber()).arg(r.errorString()));
    }
    if (r.name() != QLatin1String("zun-firdata"))
        fail("the root element must be zun-firdata");
    if (r.attributes().value("version") != QLatin1String("1"))
        fail("unsupported version");

    XmlBuilder set;
    QString name;
    bool seen[CBlockFIR::Outputs] = {false, false, false, false};
    bool haveRate = false;
    auto toDouble = [&](const QStringRef& s, const char* what) {
        bool ok = false;
        const double v = s.toDouble(&ok);
        if (!ok)
            fail(QString("'%1' is not a number in %2").arg(s.toString(), what));
        return v;
    };
    auto toUInt = [&](const QStringRef& s, const char* what, uint max, int base = 10) {
        bool ok = false;
        const uint v = s.toUInt(&ok, base);
        if (!ok || v > max)
            fail(QString("'%1' is not a valid %2").arg(s.toString(), what));
        return v;
    };

    while (r.readNextStartElement()) {
        if (r.name() == QLatin1String("name")) {
            name = r.readElementText();
            // The image keeps 24 Latin-1 characters: a longer name is cut, a character
            // outside Latin-1 becomes "?", as the image is written; the log says so.
            const QString kept = CBlockFIR::storableName(name);
            if (kept != name && notes)
                *notes << QString("the name '%1' (%2 characters) was cut to '%3', the %4 Latin-1 characters a FIR "
                                  "set's name holds")
                              .arg(name.size() > 40 ? name.left(40) + "..." : name)
                              .arg(name.size())
                              .arg(kept)
                              .arg(CBlockFIR::NameSize);
        } else if (r.name() == QLatin1String("samplerate")) {
            const QString t = r.readElementText();
            set.setSampleRate(toDouble(QStringRef(&t), "samplerate"));
            haveRate = true;
        } else if (r.name() == QLatin1String("dspprogram")) {
            const QString t = r.readElementText();
            set.setDspProgramId(static_cast<quint16>(toUInt(QStringRef(&t), "DSP program id", 0xFFFF, 0)));
        } else if (r.name() == QLatin1String("multipath")) {
            const QString t = r.readElementText();
            set.setMultipathMode(static_cast<int>(toUInt(QStringRef(&t), "multipath mode", 4)));
        } else if (r.name() == QLatin1String("output")) {
            const QXmlStreamAttributes a = r.attributes();
            const int o = static_cast<int>(toUInt(a.value("index"), "output index", 3));
            if (seen[o])
                fail(QString("output %1 appears twice").arg(o));
            seen[o] = true;
            const quint16 latency = static_cast<quint16>(toUInt(a.value("latency"), "latency", 0xFFFF));
            const int path = static_cast<int>(toUInt(a.value("limiterpath"), "limiter path", 3));
            set.setPathFlagByte(o, static_cast<quint8>(toUInt(a.value("pathflag"), "path flag", 255)));
            QVector<qint32> coeffs;
            bool haveLimiter = false;
            while (r.readNextStartElement()) {
                if (r.name() == QLatin1String("limiter")) {
                    const QXmlStreamAttributes la = r.attributes();
                    for (int f = 0; f < CBlockFIR::LimiterFields; ++f) {
                        if (!la.hasAttribute(kLimiterAttrs[f]))
                            fail(QString("limiter of output %1 lacks %2").arg(o).arg(kLimiterAttrs[f]));
                        set.setField(o, f, toDouble(la.value(kLimiterAttrs[f]), kLimiterAttrs[f]));
                    }
                    haveLimiter = true;
                    r.skipCurrentElement();
                } else if (r.name() == QLatin1String("coefficients")) {
                    const uint count = toUInt(r.attributes().value("count"), "coefficient count", 0xFFFF);
                    if (count > uint(CBlockFIR::MaxCoefficients))
                        throw CBlockFIR::invalid_filter(QString("output %1 has %2 coefficients, at most %3 are possible")
                                                            .arg(o + 1).arg(count).arg(CBlockFIR::MaxCoefficients).toStdString());
                    const QString text = r.readElementText().simplified();
                    const QVector<QStringRef> words = QStringRef(&text).split(' ', Qt::SkipEmptyParts);
                    if (uint(words.size()) != count)
                        fail(QString("wrong coefficient count: output %1 declares %2, holds %3").arg(o).arg(count).arg(words.size()));
                    coeffs.reserve(words.size());
                    for (const QStringRef& w : words) {
                        bool ok = false;
                        const uint u = w.trimmed().toUInt(&ok, 16);
                        if (!ok || u > 0xFFFFFFu)
                            fail(QString("'%1' is no 24-bit coefficient").arg(w.toString()));
                        coeffs.append((u & 0x800000u) ? static_cast<qint32>(u) - 0x1000000 : static_cast<qint32>(u));
                    }
                } else {
                    fail(QString("unknown element %1").arg(r.name().toString()));
                }
            }
            if (!haveLimiter)
                fail(QString("output %1 has no limiter element").arg(o));
            // The set's own check would name its method; the file's author needs the output.
            if (latency > coeffs.size())
                fail(QString("the output of index %1 has a latency of %2 samples but %3 coefficients; a latency "
                             "can not exceed the coefficient count (0 without coefficients): correct the latency or "
                             "the coefficients of that output")
                         .arg(o).arg(latency).arg(coeffs.size()));
            set.setOutput(o, coeffs, latency, path);
        } else {
            fail(QString("unknown element %1").arg(r.name().toString()));
        }
    }
    if (r.hasError())
        fail(QString("line %1: %2").arg(r.lineNumber()).arg(r.errorString()));
    for (bool s : seen)
        if (!s)
            fail("every output 0 to 3 needs an output element");
    if (!haveRate)
        fail("samplerate missing");
    // The form has no mark of its own for an output without FIR: one without coefficients
    // in a set whose other outputs have some may be a file made wrong, so it is said.
    QStringList bare;
    bool anyFir = false;
    for (int o = 0; o < CBlockFIR::Outputs; ++o) {
        const bool none = set.coefficients(o).isEmpty();
        anyFir = anyFir || !none;
        if (none)
            bare << QString::number(o);
    }
    if (anyFir && !bare.isEmpty() && notes)
        *notes << QString("output %1 %2 no coefficients: %3 without FIR (its IIR crossover alone)")
                      .arg(bare.join(", "), bare.size() == 1 ? "has" : "have", bare.size() == 1 ? "it runs" : "they run");
    // Parsing the built image once more applies the image's own plausibility checks.
    const QByteArray image = set.serialise(name);
    CBlockFIR check(image);
    return check.serialise(name);
}

QByteArray ZunFirFile::xmlFromImage(const QByteArray& image)
{
    const CBlockFIR set(image);
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement("zun-firdata");
    w.writeAttribute("version", "1");
    w.writeTextElement("name", set.storedName());
    w.writeTextElement("samplerate", QString::number(set.sampleRate(), 'g', 9));
    w.writeTextElement("dspprogram", QString("0x%1").arg(set.dspProgramId(), 4, 16, QChar('0')));
    w.writeTextElement("multipath", QString::number(set.multipathMode()));
    for (int o = 0; o < CBlockFIR::Outputs; ++o) {
        w.writeStartElement("output");
        w.writeAttribute("index", QString::number(o));
        w.writeAttribute("latency", QString::number(set.entryLatency(o)));
        w.writeAttribute("limiterpath", QString::number(set.entryLimiterPath(o)));
        w.writeAttribute("pathflag", QString::number(set.pathFlagByte(o)));
        w.writeStartElement("limiter");
        for (int f = 0; f < CBlockFIR::LimiterFields; ++f)
            w.writeAttribute(kLimiterAttrs[f], QString::number(limiterValue(set, o, f), 'g', 17));
        w.writeEndElement();
        const QVector<qint32> c = set.coefficients(o);
        w.writeStartElement("coefficients");
        w.writeAttribute("count", QString::number(c.size()));
        QString text;
        text.reserve(c.size() * 7);
        for (int i = 0; i < c.size(); ++i) {
            if (i)
                text += (i % 8) ? QChar(' ') : QChar('\n');
            text += QString("%1").arg(static_cast<quint32>(c[i]) & 0xFFFFFFu, 6, 16, QChar('0')).toUpper();
        }
        w.writeCharacters(text);
        w.writeEndElement();
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

bool ZunFirFile::writeZip(const QString& path, const QString& entryName, const QByteArray& image, QString* why)
{
    bool ok = false;
    const QByteArray z = zipBytes({{entryName, image}}, &ok);
    if (!ok && why)
        *why = QStringLiteral("the archive could not be made");
    return ok && saveFile(path, z, why);
}

bool ZunFirFile::writeBlkZip(const QString& path, const QString& baseName, const QByteArray& image)
{
    bool ok = false;
    const QByteArray z = zipBytes({{baseName + ".fcs", splitParams(image)}, {baseName + ".blk", splitBlocks(image)}}, &ok);
    return ok && saveFile(path, z);
}

bool ZunFirFile::writeRaw(const QString& path, const QByteArray& image)
{
    return saveFile(path, image);
}

bool ZunFirFile::writeBlk(const QString& blkPath, const QByteArray& image)
{
    return saveFile(companionOf(blkPath), splitParams(image)) && saveFile(blkPath, splitBlocks(image));
}

bool ZunFirFile::writeXml(const QString& path, const QByteArray& image)
{
    return saveFile(path, xmlFromImage(image));
}
