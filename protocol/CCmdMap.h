#pragma once

#include "CZunException.h"

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>

// The command map of one processor: resolves every symbolic device name (Cmd_, CmdS_,
// Msg_, MsgS_, ID_, Def_, Min_, Max_, Step_, Stat_, Inf_, InfS_ ...) to its number,
// floating constant or text for the selected firmware version.
//
// The tables are the TSV files under protocol/tables (embedded as resources); see
// tables/README.md for their format. They are parsed once per process and shared by
// every map.
class CCmdMap : public QObject
{
    Q_OBJECT
public:
    class invalid_cmd : public CZunException
    {
    public:
        invalid_cmd(const std::string& text, bool firstFailure)
            : CZunException(text), m_firstFailure(firstFailure) {}
        // The user-facing explanation; the failing name is in text().
        const char* what() const noexcept override;
        const std::string& text() const noexcept { return m_message; }
        // Set only for the first failed look-up of the map that threw it.
        bool isFirstFailure() const noexcept { return m_firstFailure; }

    private:
        bool m_firstFailure;
    };

    // One version's resolved names.
    struct Table
    {
        QHash<QString, int> ints;
        QHash<QString, double> floats;
        QHash<QString, QString> strings;
    };

    static constexpr quint16 NoVersion = 0xFFFF;

    explicit CCmdMap(QObject* parent = nullptr);

    // 0 selects the newest definition of every name across all tables.
    void setVersion(const quint16& version);
    quint16 version() const { return m_version; }
    static bool hasVersion(quint16 version);
    static QList<quint16> versions();

    bool contains(const QString& name) const;
    bool contains(QLatin1String name) const;
    bool containsFlt(const QString& name) const;
    bool containsString(const QString& name) const;

    quint16 getCmdNr(const char* name) const;
    quint16 getCmdNr(const QString& name) const;
    // The signed form of an integer constant (a few constants are negative).
    int getIntConst(const QString& name) const;
    double getFltConst(const char* name) const;
    double getFltConst(const QString& name) const;
    QString getStringConst(const char* name) const;
    QString getStringConst(const QString& name) const;

    QSet<QString> getKeysBeginningWith(const QString& prefix) const;
    QSet<QString> getNameSet() const;
    // Entry number -> text for every integer name with the prefix; the text is the
    // string constant whose name has "S" inserted before the first "_".
    QMap<int, QString> GetStringMapForKeysBeginningWith(const QString& prefix) const;

    // The command name ("Cmd_...") of a command number, for the operator's reports; the
    // first in sort order when two share it, empty when none has it.
    QString cmdName(quint16 nr) const;

    int failedLookups() const { return m_failed; }

signals:
    void signal_CmdMapChanged();

private:
    [[noreturn]] void fail(const QString& text) const;
    // An integer name given as Latin-1 text, looked up in the table once and then without
    // making a QString of it: the reply dispatcher asks for dozens of names a reply.
    struct Latin1Entry
    {
        bool found = false;
        int value = 0;
    };
    Latin1Entry lookup(QLatin1String name) const;

    quint16 m_version = NoVersion;
    Table m_table;
    mutable QMutex m_cacheMutex;
    mutable QHash<QString, QSet<QString>> m_prefixCache;
    mutable QHash<QLatin1String, Latin1Entry> m_latin1Cache; // keys point into m_latin1Names
    mutable std::deque<QByteArray> m_latin1Names;
    mutable int m_failed = 0;
};
