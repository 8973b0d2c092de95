// The start-up INI file (developer flag, verbosity, interface, detection levels, colours
// and palette), read into a settings store of the run's own.
#include "FuzzSupport.h"
#include "ZunStartup.h"

#include <QSettings>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    // A new name for every input: the settings cache would take a file rewritten within
    // the same second for the old one.
    static int n = 0;
    ZunStartup::CommandLine cmd;
    cmd.configFile = ZunFuzz::scratch(QStringLiteral("start%1.cfg").arg(n++ % 64));
    QFile::remove(cmd.configFile);
    ZunFuzz::writeFile(cmd.configFile, ZunFuzz::bytes(data, size));
    // The program's own settings stay in memory: writing them to disk at every input
    // would cost more than the parsing fuzzed here.
    static const QSettings::Format memory = QSettings::registerFormat(
        QStringLiteral("fuzzmem"), [](QIODevice&, QSettings::SettingsMap&) { return true; },
        [](QIODevice&, const QSettings::SettingsMap&) { return true; });
    QSettings settings(ZunFuzz::scratch(QStringLiteral("settings.fuzzmem")), memory);
    ZunStartup::applyConfiguration(cmd, settings);
    const QSettings ini(cmd.configFile, QSettings::IniFormat);
    ZunStartup::paletteFromIni(ini);
    return 0;
}
