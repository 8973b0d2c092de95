#pragma once

// Shared by the fuzz targets: one application object, no debug output, a scratch folder,
// and the check that turns a broken promise of a parser into a crash libFuzzer reports.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace ZunFuzz {

inline void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Parsers may look at the application object (settings, resources): one for the run.
inline void init()
{
    static int argc = 1;
    static char name[] = "zunfuzz";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process: destroyed among the exit handlers it would outlive
    // Qt's own globals.
    static QCoreApplication* app = nullptr;
    if (!app) {
        qInstallMessageHandler(quiet);
        app = new QCoreApplication(argc, argv);
    }
}

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}

// A scratch folder for the run, for parsers that read files.
inline QString scratch(const QString& name)
{
    static QTemporaryDir dir;
    return dir.filePath(name);
}

inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

} // namespace ZunFuzz

// A parser broke its promise: report it as a crash with the reason.
#define ZUN_FUZZ_CHECK(cond)                                                                   \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)
