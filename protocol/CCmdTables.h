#pragma once

#include "CCmdMap.h"

#include <QList>
#include <QMap>
#include <QStringList>

// The parsed command tables of every firmware version, loaded once from the embedded
// TSV files. Thread-safe after construction (instance() is a function-local static).
class CCmdTables
{
public:
    static const CCmdTables& instance();

    // Parses the given TSV texts (used by instance() with the embedded files and by
    // tests with crafted tables). Throws std::runtime_error naming file and line on a
    // malformed row, so that a bad table never loads half-way.
    static CCmdTables fromTexts(const QMap<QString, QString>& filesByName);

    // One name produced by expanding a table row's name pattern: "@" stands for the
    // DSP digit (0 and 1), "[a..b]" for a run of digits or letters, "[a..b|c..d]" for a
    // run that differs per DSP (first for DSP 0, second for DSP 1). index counts the run
    // from 0; dsp is -1 for a pattern without "@".
    struct Expansion
    {
        QString name;
        int dsp = -1;
        int index = 0;
    };
    // Expands a pattern; an empty list and *error set for a malformed one.
    static QList<Expansion> expandName(const QString& pattern, QString* error);

    QList<quint16> versions() const { return m_versions; }
    // The names of one version; 0 gives every name at its newest definition; a version
    // without a table gives an empty table.
    CCmdMap::Table table(quint16 version) const;

private:
    void parseFile(const QString& fileName, const QString& text);
    void define(const QString& fileName, int lineNo, quint16 version, const QString& kind,
                const QString& name, const QString& value);

    QList<quint16> m_versions;
    QMap<quint16, CCmdMap::Table> m_tables;
};
