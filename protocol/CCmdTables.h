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

    QList<quint16> versions() const { return m_versions; }
    // The names of one version; 0 gives every name at its newest definition; a version
    // without a table gives an empty table.
    CCmdMap::Table table(quint16 version) const;

private:
    void parseFile(const QString& fileName, const QString& text);

    QList<quint16> m_versions;
    QMap<quint16, CCmdMap::Table> m_tables;
};
