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

QList<CCmdTables::Expansion> CCmdTables::expandName(const QString& pattern, QString* error)
{
    auto fail = [error](const QString& what) {
        if (error)
            *error = what;
        return QList<Expansion>();
    };
    const int at = pattern.indexOf(QLatin1Char('@'));
    if (at >= 0 && pattern.indexOf(QLatin1Char('@'), at + 1) >= 0)
        return fail(QStringLiteral("more than one '@' in '%1'").arg(pattern));
    const int open = pattern.indexOf(QLatin1Char('['));
    const int close = pattern.indexOf(QLatin1Char(']'));
    if ((open < 0) != (close < 0) || (open >= 0 && close < open)
        || (open >= 0 && pattern.indexOf(QLatin1Char('['), open + 1) >= 0))
        return fail(QStringLiteral("bad range in '%1'").arg(pattern));

    // Runs per DSP: runs[0] for DSP 0 (or the only run), runs[1] for DSP 1.
    QList<QStringList> runs;
    if (open >= 0) {
        const QStringList alternatives = pattern.mid(open + 1, close - open - 1).split(QLatin1Char('|'));
        if (alternatives.size() > 2 || (alternatives.size() == 2 && at < 0))
            return fail(QStringLiteral("'|' in a range needs '@' in '%1'").arg(pattern));
        for (const QString& alt : alternatives) {
            // "a..b" with single characters of the same class.
            if (alt.size() != 4 || alt.mid(1, 2) != QLatin1String("..") || alt[3] < alt[0]
                || alt[0].isDigit() != alt[3].isDigit() || !alt[0].isLetterOrNumber() || !alt[3].isLetterOrNumber())
                return fail(QStringLiteral("bad range '%1'").arg(alt));
            QStringList run;
            for (ushort c = alt[0].unicode(); c <= alt[3].unicode(); ++c)
                run << QString(QChar(c));
            runs << run;
        }
        if (runs.size() == 2 && runs[0].size() != runs[1].size())
            return fail(QStringLiteral("ranges of different length in '%1'").arg(pattern));
    }

    QList<Expansion> out;
    const int dspCount = at >= 0 ? 2 : 1;
    for (int dsp = 0; dsp < dspCount; ++dsp) {
        QString base = pattern;
        if (at >= 0)
            base[at] = QLatin1Char(dsp == 0 ? '0' : '1');
        if (open < 0) {
            out << Expansion{base, at >= 0 ? dsp : -1, 0};
            continue;
        }
        const QStringList& run = runs.value(runs.size() == 2 ? dsp : 0);
        for (int i = 0; i < run.size(); ++i) {
            QString name = base;
            name.replace(open, close - open + 1, run[i]);
            out << Expansion{name, at >= 0 ? dsp : -1, i};
        }
    }
    return out;
}

void CCmdTables::define(const QString& fileName, int lineNo, quint16 version, const QString& kind,
                        const QString& name, const QString& value)
{
    CCmdMap::Table& table = m_tables[version];
    if (kind == QLatin1String("i")) {
        int v = 0;
        if (!parseInt(value.trimmed(), &v))
            tableError(fileName, lineNo, QStringLiteral("bad integer '%1'").arg(value));
        if (table.ints.contains(name))
            tableError(fileName, lineNo, QStringLiteral("'%1' defined twice").arg(name));
        table.ints.insert(name, v);
    } else if (kind == QLatin1String("f")) {
        double v = 0;
        if (!parseFloat(value.trimmed(), &v))
            tableError(fileName, lineNo, QStringLiteral("bad number '%1'").arg(value));
        if (table.floats.contains(name))
            tableError(fileName, lineNo, QStringLiteral("'%1' defined twice").arg(name));
        table.floats.insert(name, v);
    } else {
        if (table.strings.contains(name))
            tableError(fileName, lineNo, QStringLiteral("'%1' defined twice").arg(name));
        table.strings.insert(name, unescape(value));
    }
}

void CCmdTables::parseFile(const QString& fileName, const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    QList<quint16> columns;
    int dspOffset = -1; // set by "!dsp-offset"; needed by rows with "@"
    int lineNo = 0;
    for (QString line : lines) {
        ++lineNo;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList cells = line.split(QLatin1Char('\t'));
        if (line.startsWith(QLatin1Char('!'))) {
            bool ok = false;
            const int v = cells.value(1).trimmed().toInt(&ok);
            if (cells[0] != QLatin1String("!dsp-offset") || !ok || v <= 0)
                tableError(fileName, lineNo, QStringLiteral("unknown directive '%1'").arg(line));
            dspOffset = v;
            continue;
        }
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
        const QString pattern = cells[0].trimmed();
        const QString kind = cells[1].trimmed();
        if (pattern.isEmpty() || pattern.contains(QLatin1Char(' ')))
            tableError(fileName, lineNo, QStringLiteral("bad name '%1'").arg(pattern));
        if (kind != QLatin1String("i") && kind != QLatin1String("f") && kind != QLatin1String("s"))
            tableError(fileName, lineNo, QStringLiteral("kind must be i, f or s"));
        QString error;
        const QList<Expansion> names = expandName(pattern, &error);
        if (names.isEmpty())
            tableError(fileName, lineNo, error);
        const bool expanded = names.size() > 1 || names[0].dsp >= 0;
        if (expanded && kind != QLatin1String("i"))
            tableError(fileName, lineNo, QStringLiteral("'@' and ranges need kind i"));
        if (names[0].dsp >= 0 && dspOffset < 0)
            tableError(fileName, lineNo, QStringLiteral("'@' needs a !dsp-offset directive first"));

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
            if (!expanded) {
                define(fileName, lineNo, columns[c], kind, names[0].name, current);
                continue;
            }
            int base = 0;
            if (!parseInt(current.trimmed(), &base))
                tableError(fileName, lineNo, QStringLiteral("bad integer '%1'").arg(current));
            for (const Expansion& e : names) {
                const int v = base + e.index + (e.dsp > 0 ? dspOffset : 0);
                define(fileName, lineNo, columns[c], kind, e.name, QString::number(v));
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
