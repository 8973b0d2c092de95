// Writes the DSP program images that the application embeds, the "version.txt"
// redirections of the firmware folders without images of their own, and the resource
// file that lists them (with any further files of the same folder named on the command
// line). No DSP code exists for these programs: each image is a header and a
// deterministic body of a real program's size, enough to exercise upload and boot.
//
// Image layout, little-endian: bytes 0-3 "ZDSP", 4-5 program id, 6-7 family (307 or
// 321), 8-9 firmware folder, 10-13 body length, 14-15 16-bit sum of the body bytes;
// then the body. An image is 21,296 bytes plus 48 per digit sum plus 16 for the 321
// family, so 21,296 to 21,792 bytes.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QtEndian>

namespace {

// The programs of the folders, by their four digits (digit 0 first).
const char* const kPrograms[] = {
    "0000", "0010", "0020", "0030", "0040", "0210", "0310", "0320", "0420", "0421",
    "1000", "1010", "1111", "2000", "2020", "2121", "2222", "3030", "3110", "3200",
    "3210", "3220", "4040", "4300", "4310", "4321", "4410", "4420",
};
const char* const kOnlyIn1079 = "4000";

// Firmware folders without images and the folder whose images they use.
const struct { int folder, target; } kRedirections[] = {
    {1076, 1075}, {1077, 1075}, {1078, 1075}, {1080, 1079},
};

constexpr int kHeaderSize = 16;
constexpr int kSmallestImage = 21296;

QByteArray makeImage(const char* digits, int variant, int folder)
{
    int id = 0, digitSum = 0;
    for (int k = 0; k < 4; ++k) {
        const int d = digits[k] - '0';
        id |= d << (3 * (3 - k));
        digitSum += d;
    }
    id |= variant << 12;
    const int size = kSmallestImage + 48 * digitSum + (variant > 0 ? 16 : 0);
    QByteArray image(size, '\0');
    uchar* p = reinterpret_cast<uchar*>(image.data());

    quint32 x = static_cast<quint32>(folder) << 16 | static_cast<quint32>(id);
    quint16 sum = 0;
    for (int i = kHeaderSize; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        p[i] = static_cast<uchar>(x >> 24);
        sum = static_cast<quint16>(sum + p[i]);
    }
    memcpy(p, "ZDSP", 4);
    qToLittleEndian<quint16>(static_cast<quint16>(id), p + 4);
    qToLittleEndian<quint16>(variant == 0 ? 307 : 321, p + 6);
    qToLittleEndian<quint16>(static_cast<quint16>(folder), p + 8);
    qToLittleEndian<quint32>(static_cast<quint32>(size - kHeaderSize), p + 10);
    qToLittleEndian<quint16>(sum, p + 14);
    return image;
}

QString imageName(const char* digits, int variant)
{
    return QStringLiteral("%1_%2_%3.dsp")
        .arg(QLatin1String(digits))
        .arg(variant == 0 ? 307 : 321)
        .arg(variant == 2 ? 1 : 0);
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    // An option is never a folder name: "--help" asks for this text.
    const bool help = args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"));
    if (help || args.size() < 3 || args[1].startsWith(QLatin1Char('-')) || args[2].startsWith(QLatin1Char('-'))) {
        QTextStream(help ? stdout : stderr)
            << "Usage: zunmkdsp SYSTEMDIR QRCFILE [FILE...]\n"
               "Writes the DSP program images of SYSTEMDIR, and further FILEs of it, and lists them in\n"
               "QRCFILE (the build runs it).\n";
        return help ? 0 : 2;
    }
    const QDir system(args[1]);
    const QString qrcPath = args[2];
    const QDir qrcDir = QFileInfo(qrcPath).absoluteDir();
    QStringList entries; // paths relative to the System folder

    auto write = [&](const QString& relative, const QByteArray& data) {
        const QString path = system.filePath(relative);
        if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !writeFile(path, data)) {
            err << "zunmkdsp: cannot write " << path << "\n";
            return false;
        }
        entries << relative;
        return true;
    };

    for (int folder : {1075, 1079}) {
        QList<const char*> programs;
        for (const char* digits : kPrograms)
            programs << digits;
        if (folder == 1079)
            programs << kOnlyIn1079;
        for (const char* digits : programs)
            for (int variant = 0; variant <= 2; ++variant)
                if (!write(QStringLiteral("%1/%2").arg(folder).arg(imageName(digits, variant)),
                           makeImage(digits, variant, folder)))
                    return 1;
    }
    // The folder name alone, without a line end: it is read as a path component.
    for (const auto& r : kRedirections)
        if (!write(QStringLiteral("%1/version.txt").arg(r.folder), QByteArray::number(r.target)))
            return 1;
    for (int i = 3; i < args.size(); ++i)
        entries << args[i];

    // The resource prefix makes every file ":/resources/System/<relative path>".
    QByteArray qrc = "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/resources/System\">\n";
    for (const QString& e : entries)
        qrc += "  <file alias=\"" + e.toUtf8() + "\">" + qrcDir.relativeFilePath(system.filePath(e)).toUtf8()
               + "</file>\n";
    qrc += "</qresource>\n</RCC>\n";
    if (!writeFile(qrcPath, qrc)) {
        err << "zunmkdsp: cannot write " << qrcPath << "\n";
        return 1;
    }
    return 0;
}
