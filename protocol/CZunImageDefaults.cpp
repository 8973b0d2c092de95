#include "CZunImageDefaults.h"

#include "CCmdTables.h"

#include <QFile>
#include <QMap>
#include <QtEndian>

#include <stdexcept>

static void initImageDefaultResources()
{
    // The table lives in a static library: force its resources in.
    Q_INIT_RESOURCE(cmdtables);
}

namespace {

struct WordInfo
{
    bool known = false;
    bool hasRange = false;
    int min = 0;
    int max = 0;
};

struct VersionData
{
    QVector<quint16> image;
    QVector<WordInfo> words;
};

struct Row
{
    int line = 0;
    QString name;
    quint16 from = 0;
    quint16 until = 0xFFFF;
    QString def;
    QString min;
    QString max;
};

[[noreturn]] void imageError(int line, const QString& what)
{
    throw std::runtime_error(QStringLiteral("image.tsv:%1: %2").arg(line).arg(what).toStdString());
}

bool parseNumber(const QString& s, qlonglong* v)
{
    bool ok = false;
    *v = s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? s.mid(2).toLongLong(&ok, 16) : s.toLongLong(&ok, 10);
    return ok;
}

// A sum of terms: number, constant name, or number*constant name.
qlonglong evaluate(const Row& row, const QString& expr, const CCmdMap::Table& table, quint16 version)
{
    if (expr == QLatin1String("version"))
        return version;
    qlonglong sum = 0;
    for (QString term : expr.split(QLatin1Char('+'))) {
        term = term.trimmed();
        qlonglong factor = 1;
        const int star = term.indexOf(QLatin1Char('*'));
        if (star > 0) {
            if (!parseNumber(term.left(star), &factor))
                imageError(row.line, QStringLiteral("bad factor in '%1'").arg(expr));
            term = term.mid(star + 1);
        }
        qlonglong v = 0;
        if (parseNumber(term, &v)) {
            sum += factor * v;
        } else if (table.ints.contains(term)) {
            sum += factor * table.ints.value(term);
        } else if (table.floats.contains(term)) {
            sum += factor * qRound64(table.floats.value(term));
        } else {
            imageError(row.line, QStringLiteral("'%1' not defined for firmware %2").arg(term).arg(version));
        }
    }
    return sum;
}

QList<Row> parseRows(const QString& text)
{
    QList<Row> rows;
    bool header = false;
    int lineNo = 0;
    for (QString line : text.split(QLatin1Char('\n'))) {
        ++lineNo;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList cells = line.split(QLatin1Char('\t'));
        if (!header) {
            if (cells.value(0) != QLatin1String("name") || cells.value(1) != QLatin1String("versions"))
                imageError(lineNo, QStringLiteral("header must start with name<TAB>versions"));
            header = true;
            continue;
        }
        if (cells.size() < 3)
            imageError(lineNo, QStringLiteral("row needs a name, versions and a default"));
        Row row;
        row.line = lineNo;
        row.name = cells[0].trimmed();
        const QString versions = cells[1].trimmed();
        if (versions != QLatin1String("*")) {
            const int dash = versions.indexOf(QLatin1Char('-'));
            bool ok1 = true, ok2 = true;
            if (dash < 0) {
                row.from = row.until = quint16(versions.toUInt(&ok1));
            } else {
                if (dash > 0)
                    row.from = quint16(versions.left(dash).toUInt(&ok1));
                if (dash + 1 < versions.size())
                    row.until = quint16(versions.mid(dash + 1).toUInt(&ok2));
            }
            if (!ok1 || !ok2 || row.from > row.until)
                imageError(lineNo, QStringLiteral("bad versions '%1'").arg(versions));
        }
        row.def = cells[2].trimmed();
        row.min = cells.value(3, QStringLiteral("-")).trimmed();
        row.max = cells.value(4, QStringLiteral("-")).trimmed();
        if ((row.min == QLatin1String("-")) != (row.max == QLatin1String("-")))
            imageError(lineNo, QStringLiteral("give both min and max, or neither"));
        rows << row;
    }
    return rows;
}

void setWord(VersionData& d, const Row& row, int word, const CCmdMap::Table& table, quint16 version)
{
    if (word < 0 || word >= CZunImageDefaults::ImageWords)
        imageError(row.line, QStringLiteral("word %1 of '%2' outside the image").arg(word).arg(row.name));
    WordInfo& info = d.words[word];
    if (info.known)
        imageError(row.line, QStringLiteral("word %1 given twice for firmware %2").arg(word).arg(version));
    info.known = true;
    const qlonglong def = evaluate(row, row.def, table, version);
    if (def < -32768 || def > 0xFFFF)
        imageError(row.line, QStringLiteral("default of '%1' does not fit a word").arg(row.name));
    d.image[word] = quint16(def);
    if (row.min == QLatin1String("-"))
        return;
    const qlonglong mn = evaluate(row, row.min, table, version);
    const qlonglong mx = evaluate(row, row.max, table, version);
    if (mn > mx || mn < -32768 || mx > 0xFFFF || (mn < 0 && mx > 32767))
        imageError(row.line, QStringLiteral("bad range of '%1'").arg(row.name));
    // The default of a ranged word must be a value the processor would accept.
    const qlonglong cmp = mn < 0 ? qlonglong(qint16(quint16(def))) : qlonglong(quint16(def));
    if (cmp < mn || cmp > mx)
        imageError(row.line, QStringLiteral("default of '%1' outside its range").arg(row.name));
    info.hasRange = true;
    info.min = int(mn);
    info.max = int(mx);
}

VersionData build(quint16 version, const QList<Row>& rows)
{
    const CCmdMap::Table table = CCmdTables::instance().table(version);
    VersionData d;
    d.image.fill(0, CZunImageDefaults::ImageWords);
    d.words.resize(CZunImageDefaults::ImageWords);

    auto intConst = [&](const char* name) {
        if (!table.ints.contains(QLatin1String(name)))
            throw std::runtime_error(std::string("image defaults: ") + name + " missing for firmware "
                                     + std::to_string(version));
        return table.ints.value(QLatin1String(name));
    };
    const int eqCount = intConst("Inf_DSP_EQ_AnzSet");
    const int fiCount = intConst("Inf_DSP_Fi_AnzSet");
    const int eqBase[2] = {intConst("Inf_DSP0_ParBaseEQ"), intConst("Inf_DSP1_ParBaseEQ")};
    const int fiBase[2] = {intConst("Inf_DSP0_ParBaseFi"), intConst("Inf_DSP1_ParBaseFi")};

    for (const Row& row : rows) {
        if (version < row.from || version > row.until)
            continue;
        bool isNumber = false;
        const int number = row.name.toInt(&isNumber);
        if (isNumber) {
            setWord(d, row, number, table, version);
        } else if (row.name.startsWith(QLatin1String("EQ.w")) || row.name.startsWith(QLatin1String("HOF.w"))) {
            const bool eq = row.name.startsWith(QLatin1String("EQ"));
            bool ok = false;
            const int k = row.name.mid(row.name.indexOf(QLatin1Char('w')) + 1).toInt(&ok);
            if (!ok || k < 0 || k > 4)
                imageError(row.line, QStringLiteral("record words are w0 to w4"));
            for (int dsp = 0; dsp < 2; ++dsp)
                for (int r = 0; r < (eq ? eqCount : fiCount); ++r)
                    setWord(d, row, (eq ? eqBase[dsp] : fiBase[dsp]) + 5 * r + k, table, version);
        } else if (row.name == QLatin1String("SetupName")) {
            if (row.def.size() < 2 || !row.def.startsWith(QLatin1Char('"')) || !row.def.endsWith(QLatin1Char('"')))
                imageError(row.line, QStringLiteral("SetupName needs a quoted text"));
            QByteArray name = row.def.mid(1, row.def.size() - 2).toLatin1().left(CZunImageDefaults::SetupNameLength);
            name.append(QByteArray(CZunImageDefaults::SetupNameLength - name.size(), ' '));
            const int first = CZunImageDefaults::SetupNameByte / 2;
            for (int i = 0; i < CZunImageDefaults::SetupNameLength / 2; ++i)
                d.image[first + i] = quint16(quint8(name[2 * i]) | quint8(name[2 * i + 1]) << 8);
        } else {
            QString error;
            const QList<CCmdTables::Expansion> names = CCmdTables::expandName(row.name, &error);
            if (names.isEmpty())
                imageError(row.line, error);
            for (const CCmdTables::Expansion& e : names) {
                if (!table.ints.contains(e.name))
                    imageError(row.line, QStringLiteral("'%1' not defined for firmware %2").arg(e.name).arg(version));
                setWord(d, row, table.ints.value(e.name), table, version);
            }
        }
    }
    // Every command name of the version is a known command, with or without a row.
    for (auto it = table.ints.constBegin(); it != table.ints.constEnd(); ++it)
        if (it.key().startsWith(QLatin1String("Cmd_")) && it.value() >= 0 && it.value() < CZunImageDefaults::ImageWords)
            d.words[it.value()].known = true;
    return d;
}

const QMap<quint16, VersionData>& allVersions()
{
    static const QMap<quint16, VersionData> data = [] {
        initImageDefaultResources();
        QFile f(QStringLiteral(":/imagedefaults/image.tsv"));
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot open the image defaults table");
        const QList<Row> rows = parseRows(QString::fromUtf8(f.readAll()));
        QMap<quint16, VersionData> m;
        for (quint16 v : CCmdTables::instance().versions())
            m.insert(v, build(v, rows));
        return m;
    }();
    return data;
}

} // namespace

QVector<quint16> CZunImageDefaults::defaultImage(quint16 version)
{
    return allVersions().value(version).image;
}

QByteArray CZunImageDefaults::defaultImageBytes(quint16 version)
{
    const QVector<quint16> words = defaultImage(version);
    QByteArray bytes(words.size() * 2, '\0');
    for (int i = 0; i < words.size(); ++i)
        qToLittleEndian<quint16>(words[i], bytes.data() + 2 * i);
    return bytes;
}

bool CZunImageDefaults::rawRange(quint16 version, quint16 cmd, int* min, int* max)
{
    const auto& all = allVersions();
    auto it = all.constFind(version);
    if (it == all.constEnd() || cmd >= ImageWords || !it->words[cmd].hasRange)
        return false;
    if (min)
        *min = it->words[cmd].min;
    if (max)
        *max = it->words[cmd].max;
    return true;
}

bool CZunImageDefaults::isKnownCommand(quint16 version, quint16 cmd)
{
    const auto& all = allVersions();
    auto it = all.constFind(version);
    return it != all.constEnd() && cmd < ImageWords && it->words[cmd].known;
}
