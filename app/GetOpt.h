#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Turns the command line into values of variables registered beforehand: switches set a
// bool, options with a value fill a QString. Warnings go to qWarning; a bare "--" ends the
// process with status 2.
class GetOpt
{
public:
    // Reads the arguments of the running application object (which must exist).
    GetOpt();
    // The same over a given argument list (first word: the program).
    explicit GetOpt(const QStringList& arguments);
    ~GetOpt();
    GetOpt(const GetOpt&) = delete;
    GetOpt& operator=(const GetOpt&) = delete;

    void addSwitch(const QString& longName, bool* value);
    void addOption(char shortName, const QString& longName, QString* value);

    // Consumes every token; false after a warning. With untilFirstSwitchOnly, parsing
    // stops successfully right after the first switch.
    bool parse(bool untilFirstSwitchOnly);

    bool isSet(const QString& longName) const { return m_present.value(longName, false); }
    QString appName() const { return m_appName; }

private:
    enum class Kind { Switch, OptionalValue, RequiredValue, RequiredArg, OptionalArg };
    struct Option
    {
        Kind kind = Kind::Switch;
        char shortName = 0;
        QString longName;
        bool* boolValue = nullptr;
        QString* stringValue = nullptr;
        QString def;
    };

    void init(const QStringList& arguments);

    QList<Option> m_options;
    QMap<QString, bool> m_present;
    QStringList m_args;
    QString m_appName;
    int m_numReqArgs = 0;
    int m_numOptArgs = 0;
    Option m_reqArg;
    Option m_optArg;
    int m_currArg = 1;
};
