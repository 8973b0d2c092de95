// Writes the default setup images "DSPVar<version>.zun" (raw 3,400-byte parameter images)
// of every firmware version that the command tables define into the given folder.

#include "CCmdTables.h"
#include "CZunImageDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    // An option is never a folder name: "--help" asks for this text, not for a folder.
    if (args.size() != 2 || args[1].startsWith(QLatin1Char('-'))) {
        const bool help = args.size() == 2 && (args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h"));
        QTextStream(help ? stdout : stderr) << "Usage: zunmkdefaults OUTDIR\n"
                                               "Writes the default setup image DSPVar<version>.zun of every firmware "
                                               "version into OUTDIR.\n";
        return help ? 0 : 2;
    }
    const QDir dir(args[1]);
    if (!QDir().mkpath(dir.absolutePath())) {
        err << "zunmkdefaults: cannot create " << dir.absolutePath() << "\n";
        return 1;
    }
    try {
        for (quint16 version : CCmdTables::instance().versions()) {
            const QByteArray image = CZunImageDefaults::defaultImageBytes(version);
            const QString path = dir.filePath(QStringLiteral("DSPVar%1.zun").arg(version));
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(image) != image.size()) {
                err << "zunmkdefaults: cannot write " << path << "\n";
                return 1;
            }
        }
    } catch (const std::exception& e) {
        err << "zunmkdefaults: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
