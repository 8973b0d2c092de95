#pragma once

// The command line of a bench that takes whole numbers in order: --help (or -h) prints its
// usage and ends before anything starts (no display, no emulator); a value that is not a
// whole number in its range, or one too many, is refused with the usage.
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

struct ZunBenchArg
{
    const char* name;
    int fallback, min, max;
};

inline QVector<int> zunBenchArgs(int argc, char** argv, const char* usage, std::initializer_list<ZunBenchArg> args)
{
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(usage, stdout);
            std::exit(0);
        }
    const auto refuse = [&](const QString& why) {
        std::fprintf(stderr, "%s: %s\n%s", argv[0], qPrintable(why), usage);
        std::exit(2);
    };
    if (argc - 1 > int(args.size()))
        refuse(QStringLiteral("unexpected argument %1").arg(QString::fromLocal8Bit(argv[args.size() + 1])));
    QVector<int> values;
    int i = 1;
    for (const ZunBenchArg& a : args) {
        int v = a.fallback;
        if (i < argc) {
            bool ok = false;
            v = QString::fromLocal8Bit(argv[i]).toInt(&ok);
            if (!ok || v < a.min || v > a.max)
                refuse(QStringLiteral("%1 must be a whole number from %2 to %3, not %4")
                           .arg(QLatin1String(a.name))
                           .arg(a.min)
                           .arg(a.max)
                           .arg(QString::fromLocal8Bit(argv[i])));
        }
        values.append(v);
        ++i;
    }
    return values;
}

// A bench run where no display is named uses the offscreen platform (unless one is chosen).
inline void zunOffscreenWithoutDisplay()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
