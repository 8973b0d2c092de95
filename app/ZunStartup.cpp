#include "ZunStartup.h"

#include "ZunOperationJournal.h"

#include "CFileVersionInfo.h"
#include "GetOpt.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>
#include <QTranslator>

QString ZunStartup::versionText(const CFileVersionInfo& info)
{
    if (!info.isValid())
        return QStringLiteral("Version %1.%2.%3.%4").arg(0).arg(0).arg(0).arg(0);
    return QStringLiteral("Version %1.%2.%3.%4").arg(info.major()).arg(info.minor()).arg(info.patch()).arg(info.build());
}

void ZunStartup::installTranslators(QCoreApplication* app)
{
    const QString locale = QLocale::system().name();
    for (const QString& prefix : {QStringLiteral("ZunControl_"), QStringLiteral("qt_")}) {
        auto* t = new QTranslator(app);
        if (t->load(prefix + locale, QStringLiteral(":/resources/translations")))
            app->installTranslator(t);
        else
            delete t;
    }
}

QString ZunStartup::commonAppDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString ZunStartup::makeDataDirectory(const QString& base)
{
    QDir dir(base.isEmpty() ? QStringLiteral(".") : base);
    if (!dir.exists() && !QDir().mkpath(dir.path()))
        throw startup_error("Can not generate 'ZunControlV2' directory. Check permissions!");
    if (!dir.cd(QStringLiteral("ZunControlV2"))) {
        if (!dir.mkdir(QStringLiteral("ZunControlV2")) || !dir.cd(QStringLiteral("ZunControlV2")))
            throw startup_error("Can not generate 'ZunControlV2' directory. Check permissions!");
    }
    const QString appDir = dir.path();
    if (!dir.cd(QStringLiteral("Zun_Config"))) {
        if (!dir.mkdir(QStringLiteral("Zun_Config")) || !dir.cd(QStringLiteral("Zun_Config")))
            throw startup_error("Can not generate 'Zun_Config' directory. Check permissions!");
    }
    return appDir + QStringLiteral("/Zun_Config");
}

QString ZunStartup::unfinishedCollections(const QString& configDir)
{
    if (configDir.isEmpty())
        return QString();
    const QDir dir(configDir);
    QStringList lines;
    for (const QString& name : dir.entryList({QStringLiteral("*_gc")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        bool ok = false;
        const uint serial = name.chopped(3).toUInt(&ok);
        if (ok && serial <= 0xFFFF)
            lines << QStringLiteral("Zun %1: its backup is in %2.")
                         .arg(serial)
                         .arg(QDir::toNativeSeparators(dir.absoluteFilePath(name)));
    }
    if (lines.isEmpty())
        return QString();
    return QStringLiteral("A garbage collection was not finished when the program last ended: what it erased may not "
                          "all be back on the processor.\n\n%1\n\nOpening the processor's control window puts its "
                          "backup back.")
        .arg(lines.join(QLatin1Char('\n')));
}

QString ZunStartup::unfinishedOperations(const QString& configDir)
{
    const QStringList lines = ZunOperationJournal::unfinishedIn(configDir);
    if (lines.isEmpty())
        return QString();
    return QStringLiteral("These operations did not reach their end when the program last ran, and may have left "
                          "their processor part-written:\n\n%1\n\nThe next connection to each processor names what "
                          "each left on it.")
        .arg(lines.join(QLatin1Char('\n')));
}

ZunStartup::CommandLine ZunStartup::parseCommandLine(const QStringList& arguments)
{
    CommandLine c;
    GetOpt opts(arguments);
    opts.addOption('c', QStringLiteral("configFile"), &c.configFile);
    opts.addSwitch(QStringLiteral("developer"), &c.developer);
    opts.addSwitch(QStringLiteral("xmlFir"), &c.xmlFir);
    opts.addSwitch(QStringLiteral("importEqs"), &c.importEqs);
    opts.addOption('v', QStringLiteral("verboseLevel"), &c.verboseLevel);
    opts.addOption('n', QStringLiteral("useNIC"), &c.useNIC);
    // A bad command line costs a warning only; start-up goes on with what was bound.
    c.parsedOk = opts.parse(false);
    return c;
}

QColor ZunStartup::colorFromText(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QColor c;
    if (parts.size() == 1) {
        c.setNamedColor(text.trimmed());
    } else if (parts.size() == 3) {
        bool ok[3];
        const int r = parts[0].toInt(&ok[0]);
        const int g = parts[1].toInt(&ok[1]);
        const int b = parts[2].toInt(&ok[2]);
        auto inRange = [](int v) { return v >= 0 && v <= 255; };
        if (ok[0] && ok[1] && ok[2] && inRange(r) && inRange(g) && inRange(b))
            c.setRgb(r, g, b, 255);
    }
    return c;
}

QString ZunStartup::configFileName(const CommandLine& cmd)
{
    return cmd.configFile.isEmpty() ? QString::fromLatin1(DefaultConfigFile) : cmd.configFile;
}

static int numberOr(const QString& first, const QString& second)
{
    bool ok = false;
    const int a = first.toInt(&ok, 10);
    if (ok)
        return a;
    const int b = second.toInt(&ok, 10);
    return ok ? b : 0;
}

void ZunStartup::applyConfiguration(const CommandLine& cmd, QSettings& settings)
{
    settings.setValue(QStringLiteral("xmlFir"), cmd.xmlFir);
    settings.setValue(QStringLiteral("importEqs"), cmd.importEqs);

    const QString iniName = configFileName(cmd);
    const QSettings ini(iniName, QSettings::IniFormat);
    bool iniDeveloper = false;
    QString iniVerbose, iniNic;
    if (QFileInfo::exists(iniName)) {
        iniDeveloper = ini.contains(QStringLiteral("developer"));
        iniVerbose = ini.value(QStringLiteral("verboseLevel")).toString();
        iniNic = ini.value(QStringLiteral("useNIC")).toString();
        settings.setValue(QStringLiteral("SignalDetectionLevelIn"), ini.value(QStringLiteral("SignalDetectionLevelIn")).toDouble());
        settings.setValue(QStringLiteral("SignalDetectionLevelOut"), ini.value(QStringLiteral("SignalDetectionLevelOut")).toDouble());
    }
    settings.setValue(QStringLiteral("UserMode"),
                      cmd.developer || iniDeveloper ? QStringLiteral("Developer") : QStringLiteral("NormalUser"));
    const int verbose = numberOr(cmd.verboseLevel, iniVerbose);
    settings.setValue(QStringLiteral("verboseLevel"), verbose);
    // Progress and diagnostics go to the debug output only when asked for; warnings always.
    // QT_LOGGING_RULES still decides over this.
    QLoggingCategory::setFilterRules(verbose > 0 ? QString() : QStringLiteral("default.debug=false"));
    settings.setValue(QStringLiteral("useNIC"), numberOr(cmd.useNIC, iniNic));
    settings.sync();

    struct ColourKey
    {
        const char* ini;
        const char* key;
        Qt::GlobalColor fallback;
    };
    static const ColourKey colours[] = {
        {"levelColor", "ColorLevelMeter", Qt::green},
        {"gainRedColor", "ColorGainReductionMeter", Qt::red},
        {"buttonActiveColor", "ColorButtonActive", Qt::red},
        {"buttonInactiveColor", "ColorButtonInactive", Qt::green},
    };
    for (const ColourKey& c : colours) {
        QColor colour = colorFromText(ini.value(QLatin1String(c.ini)).toString());
        if (!colour.isValid())
            colour = c.fallback == Qt::green ? QColor(QStringLiteral("limegreen")) : QColor(c.fallback);
        settings.setValue(QLatin1String(c.key), colour);
    }
    settings.sync();
}

QPalette ZunStartup::paletteFor(const QColor& button, const QColor& window)
{
    QPalette p;
    if (button.isValid() && window.isValid()) {
        p = QPalette(button, window);
    } else if (button.isValid()) {
        p = QPalette(button);
    } else if (window.isValid()) {
        p = QPalette(window);
    } else {
        p = QPalette(QColor(Qt::darkGray));
        p.setColor(QPalette::All, QPalette::Base, QColor(64, 64, 64));
    }
    p.setColor(QPalette::All, QPalette::Window, QColor(88, 88, 88));
    return p;
}

QPalette ZunStartup::paletteFromIni(const QSettings& ini)
{
    return paletteFor(colorFromText(ini.value(QStringLiteral("buttonColor")).toString()),
                      colorFromText(ini.value(QStringLiteral("windowColor")).toString()));
}

void ZunStartup::configure(const QStringList& arguments)
{
    QSettings settings(QString::fromLatin1(Organization), QString::fromLatin1(SettingsApplication));
    settings.setValue(QStringLiteral("ConfigDir"), makeDataDirectory(commonAppDataFolder()));
    const CommandLine cmd = parseCommandLine(arguments);
    applyConfiguration(cmd, settings);
    const QSettings ini(configFileName(cmd), QSettings::IniFormat);
    QApplication::setPalette(paletteFromIni(ini));
}
