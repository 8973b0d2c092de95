#include "CCmdTables.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <stdexcept>

namespace {

[[noreturn]] void tableError(const QString& file, int line, const QString& what)
{
    throw std::runtime_error(QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(what).toStdString());
}

QString unescape(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('\\') && i + 1 < s.size()) {
            const QChar c = s[++i];
            if (c == QLatin1Char('n')) out += QLatin1Char('\n');
            else if (c == QLatin1Char('t')) out += QLatin1Char('\t');
            else out += c;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool parseInt(const QString& s, int* value)
{
    bool ok = false;
    qlonglong v = s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? s.mid(2).toLongLong(&ok, 16)
                                                                         : s.toLongLong(&ok, 10);
    if (!ok || v < -32768 || v > 0xFFFF)
        return false;
    *value = static_cast<int>(v);
    return true;
}

bool parseFloat(const QString& s, double* value)
{
    bool ok = false;
    const int slash = s.indexOf(QLatin1Char('/'));
    if (slash > 0) {
        const double n = s.left(slash).toDouble(&ok);
        if (!ok) return false;
        const double d = s.mid(slash + 1).toDouble(&ok);
        if (!ok || d == 0.0) return false;
        *value = n / d;
        return true;
    }
    *value = s.toDouble(&ok);
    return ok;
}

} // namespace

static void initTableResources()
{
    // The tables live in a static library: force its resources in.
    Q_INIT_RESOURCE(cmdtables);
}

const CCmdTables& CCmdTables::instance()
{
    static const CCmdTables tables = [] {
        initTableResources();
        QMap<QString, QString> texts;
        QDir dir(QStringLiteral(":/cmdtables"));
        for (const QString& name : dir.entryList({QStringLiteral("*.tsv")}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly))
                throw std::runtime_error("cannot open command table " + name.toStdString());
            texts.insert(name, QString::fromUtf8(f.readAll()));
        }
        return fromTexts(texts);
    }();
    return tables;
}

CCmdTables CCmdTables::fromTexts(const QMap<QString, QString>& filesByName)
{
    CCmdTables t;
    for (auto it = filesByName.constBegin(); it != filesByName.constEnd(); ++it)
        t.parseFile(it.key(), it.value());
    return t;
}

void CCmdTables::parseFile(const QString& fileName, const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    QList<quint16> columns;
    int lineNo = 0;
    for (QString line : lines) {
        ++lineNo;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList cells = line.split(QLatin1Char('\t'));
        if (columns.isEmpty()) {
            // Header: name, kind, one column per firmware version, note.
            if (cells.size() < 3 || cells[0] != QLatin1String("name") || cells[1] != QLatin1String("kind"))
                tableError(fileName, lineNo, QStringLiteral("header must start with name<TAB>kind"));
            for (int i = 2; i < cells.size(); ++i) {
                if (cells[i] == QLatin1String("note"))
                    break;
                bool ok = false;
                const uint v = cells[i].toUInt(&ok);
                if (!ok || v == 0 || v >= 0xFFFF)
                    tableError(fileName, lineNo, QStringLiteral("bad version column '%1'").arg(cells[i]));
                columns << quint16(v);
            }
            for (quint16 v : columns)
                if (!m_versions.contains(v))
                    m_versions << v;
            std::sort(m_versions.begin(), m_versions.end());
            continue;
        }
        if (cells.size() < 2)
            tableError(fileName, lineNo, QStringLiteral("row needs a name and a kind"));
        const QString name = cells[0].trimmed();
        const QString kind = cells[1].trimmed();
        if (name.isEmpty() || name.contains(QLatin1Char(' ')))
            tableError(fileName, lineNo, QStringLiteral("bad name '%1'").arg(name));
        if (kind != QLatin1String("i") && kind != QLatin1String("f") && kind != QLatin1String("s"))
            tableError(fileName, lineNo, QStringLiteral("kind must be i, f or s"));

        // An empty cell carries the value of the version to its left; "-" means the
        // version does not define the name.
        QString current;
        bool defined = false;
        for (int c = 0; c < columns.size(); ++c) {
            const QString cell = (c + 2 < cells.size()) ? cells[c + 2] : QString();
            if (cell == QLatin1String("-")) {
                defined = false;
            } else if (!cell.isEmpty()) {
                current = cell;
                defined = true;
            }
            if (!defined)
                continue;
            CCmdMap::Table& table = m_tables[columns[c]];
            if (kind == QLatin1String("i")) {
                int v = 0;
                if (!parseInt(current.trimmed(), &v))
                    tableError(fileName, lineNo, QStringLiteral("bad integer '%1'").arg(current));
                if (table.ints.contains(name))
                    tableError(fileName, lineNo, QStringLiteral("'%1' defined twice").arg(name));
                table.ints.insert(name, v);
            } else if (kind == QLatin1String("f")) {
                double v = 0;
                if (!parseFloat(current.trimmed(), &v))
                    tableError(fileName, lineNo, QStringLiteral("bad number '%1'").arg(current));
                if (table.floats.contains(name))
                    tableError(fileName, lineNo, QStringLiteral("'%1' defined twice").arg(name));
                table.floats.insert(name, v);
            } else {
                if (table.strings.contains(name))
                    tableError(fileName, lineNo, QStringLiteral("'%1' defined twice").arg(name));
                table.strings.insert(name, unescape(current));
            }
        }
    }
}

CCmdMap::Table CCmdTables::table(quint16 version) const
{
    if (version != 0)
        return m_tables.value(version);
    // Newest definition of every name: overlay the versions oldest first.
    CCmdMap::Table all;
    for (quint16 v : m_versions) {
        const CCmdMap::Table& t = m_tables[v];
        for (auto i = t.ints.constBegin(); i != t.ints.constEnd(); ++i) all.ints.insert(i.key(), i.value());
        for (auto i = t.floats.constBegin(); i != t.floats.constEnd(); ++i) all.floats.insert(i.key(), i.value());
        for (auto i = t.strings.constBegin(); i != t.strings.constEnd(); ++i) all.strings.insert(i.key(), i.value());
    }
    return all;
}
