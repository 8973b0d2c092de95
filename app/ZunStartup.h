#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

#include <stdexcept>

class CFileVersionInfo;
class QCoreApplication;
class QSettings;

// The configuration steps of start-up, apart from the windows: version text, translators,
// data directory, command line, INI file, user mode, palette and colours. main() runs them
// in order; tests run them without showing a window.
class ZunStartup
{
public:
    static constexpr const char* Organization = "Orvanta";
    static constexpr const char* SettingsApplication = "ZunControl";
    static constexpr const char* ApplicationName = "ZunControlV2";
    static constexpr const char* DefaultConfigFile = "ZunControlV2.cfg";

    // What the command line gave.
    struct CommandLine
    {
        QString configFile;
        bool developer = false;
        bool xmlFir = false;
        bool importEqs = false;
        QString verboseLevel;
        QString useNIC;
        bool parsedOk = false;
    };

    // Ended start-up: the data directory cannot be made.
    class startup_error : public std::runtime_error
    {
    public:
        using std::runtime_error::runtime_error;
    };

    // "Version a.b.c.d" of the record (all 0 when it is not valid).
    static QString versionText(const CFileVersionInfo& info);
    // Loads and installs "ZunControl_<locale>" and "qt_<locale>" from the resources when
    // they exist; the translators become children of the application.
    static void installTranslators(QCoreApplication* app);

    // The folder under which the data directory is made: the user's writable shared data
    // location (no system-wide folder is writable for an ordinary user here).
    static QString commonAppDataFolder();
    // Enters or makes base/ZunControlV2/Zun_Config and returns its path; throws
    // startup_error with the user-facing text when a level cannot be made.
    static QString makeDataDirectory(const QString& base);
    // What the start tells once about the garbage collections left unfinished in the
    // configuration folder (a backup folder "<serial>_gc" beside a device folder): which
    // processors, and that opening each one's window puts its backup back. Empty: none.
    static QString unfinishedCollections(const QString& configDir);
    // The same for the other long operations a kill (or a quit or a window closed anyway)
    // left unfinished: which processors, which operations, and that the next connection
    // names what each left. Empty: none.
    static QString unfinishedOperations(const QString& configDir);

    // Parses the given arguments (first word: the program) as start-up does.
    static CommandLine parseCommandLine(const QStringList& arguments);

    // The colour text rule: one word = a colour name; three words = decimal red, green
    // and blue; anything else = invalid.
    static QColor colorFromText(const QString& text);

    // Steps 9 to 12 and 15 (after the command line is parsed): writes "xmlFir",
    // "importEqs", the signal-detection levels, "UserMode", "verboseLevel", "useNIC" and
    // the four colours into settings, reading the INI file named by the command line. The
    // debug output is on only with a verbose level above 0.
    static void applyConfiguration(const CommandLine& cmd, QSettings& settings);
    // The application palette of the INI file's "buttonColor" and "windowColor".
    static QPalette paletteFromIni(const QSettings& ini);
    static QPalette paletteFor(const QColor& button, const QColor& window);
    // The INI file that the command line names.
    static QString configFileName(const CommandLine& cmd);

    // Steps 7 to 12, 14 and 15 on the running application: stores "ConfigDir" and
    // everything above and sets the application palette. Throws startup_error.
    static void configure(const QStringList& arguments);
};
