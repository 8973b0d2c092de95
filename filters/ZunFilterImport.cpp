#include "ZunFilterImport.h"

#include "CZunBiquadDesign.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

namespace {

bool isCharacteristic(uint c)
{
    // critical, Bessel, Butterworth, Chebyshev, all pass, Linkwitz-Riley
    return c <= 3 || c == 7 || c == 8;
}

} // namespace

ZunFilterImport::Result ZunFilterImport::ReadCSV(const QString& fileName)
{
    return ReadCSV(fileName, Ranges());
}

int ZunFilterImport::ReadCSV(const QString& fileName, QVector<EQ_PARAMS>& eqs, QVector<HO_FILTER_PARAMS>& filters)
{
    return ReadCSV(fileName, eqs, filters, Ranges());
}

ZunFilterImport::Result ZunFilterImport::parse(const QByteArray& text)
{
    return parse(text, Ranges());
}

ZunFilterImport::Result ZunFilterImport::ReadCSV(const QString& fileName, const Ranges& ranges)
{
    Result result;
    const QFileInfo fi(fileName);
    // The last suffix decides: "v1.2.csv" is a CSV file.
    if (!fi.exists() || !fi.isFile() || fi.suffix().toUpper() != "CSV")
        return result;
    if (fi.size() > MaxFileSize) {
        result.problems << QString("file larger than %1 bytes").arg(MaxFileSize);
        return result;
    }
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return result;
    const QByteArray text = f.read(MaxFileSize + 1);
    if (text.size() > MaxFileSize) {
        result.problems << QString("file larger than %1 bytes").arg(MaxFileSize);
        return result;
    }
    result = parse(text, ranges);
    result.fileRead = true;
    return result;
}

int ZunFilterImport::ReadCSV(const QString& fileName, QVector<EQ_PARAMS>& eqs, QVector<HO_FILTER_PARAMS>& filters,
                             const Ranges& ranges)
{
    const Result r = ReadCSV(fileName, ranges);
    eqs += r.eqs;
    filters += r.filters;
    return r.refused;
}

ZunFilterImport::Result ZunFilterImport::parse(const QByteArray& text, const Ranges& ranges)
{
    Result result;
    const QLocale c = QLocale::c();
    // Lines end with LF, CR LF or a lone CR.
    QString all = QString::fromUtf8(text);
    all.replace("\r\n", "\n");
    all.replace('\r', '\n');
    const QStringList lines = all.split('\n');

    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i);
        QStringList fields = line.split(';');
        for (QString& s : fields)
            s = s.trimmed();
        bool blank = true;
        for (const QString& s : fields)
            blank = blank && s.isEmpty();
        if (blank)
            continue;

        auto refuse = [&](const QString& why) {
            ++result.refused;
            result.problems << QString("line %1: %2").arg(i + 1).arg(why);
        };
        auto number = [&](int idx, double* out) {
            bool ok = false;
            // Lists written with a decimal comma (the reason for ";" as separator) read too.
            QString t = fields.at(idx);
            t.replace(',', '.');
            const double v = c.toDouble(t, &ok);
            if (!ok || !std::isfinite(v))
                return false;
            *out = v;
            return true;
        };
        auto inRange = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
        const double maxFrequency =
            std::min(ranges.maxFrequency, CZunBiquadDesign::highestCorner(ranges.sampleRate, 0.0));

        if (fields.size() < 2) {
            refuse("too few fields");
            continue;
        }
        const QString kind = fields.at(1).toLower();
        if (kind == "peq") {
            if (fields.size() < 5) {
                refuse("a peak EQ needs 5 fields");
                continue;
            }
            double f = 0.0, g = 0.0, q = 0.0;
            if (!number(2, &f) || !number(3, &g) || !number(4, &q)) {
                refuse("unreadable number");
                continue;
            }
            if (!inRange(f, ranges.minFrequency, maxFrequency) || !inRange(g, ranges.minGain, ranges.maxGain)
                || !inRange(q, ranges.minQuality, ranges.maxQuality)) {
                refuse("value out of range");
                continue;
            }
            EQ_PARAMS eq;
            eq.frequency = f;
            eq.gain = g;
            eq.quality = q;
            eq.type = PeakType;
            eq.active = true;
            result.eqs.append(eq);
            continue;
        }

        quint16 passband = 0;
        if (kind == "lp")
            passband = 0;
        else if (kind == "hp")
            passband = 1;
        else if (kind == "ap")
            passband = 2;
        else {
            refuse(QString("unknown filter kind '%1'").arg(fields.at(1)));
            continue;
        }
        if (fields.size() < 5) {
            refuse("a crossover filter needs at least 5 fields");
            continue;
        }
        double f = 0.0, ripple = 0.1;
        bool okC = false, okO = false;
        const uint characteristic = fields.at(3).toUInt(&okC);
        const uint order = fields.at(4).toUInt(&okO);
        const bool hasRipple = fields.size() > 5 && !fields.at(5).isEmpty();
        if (!number(2, &f) || !okC || !okO || (hasRipple && !number(5, &ripple))) {
            refuse("unreadable number");
            continue;
        }
        if (!inRange(f, ranges.minFrequency, maxFrequency) || !isCharacteristic(characteristic)
            || order < 1 || order > 10 || !inRange(ripple, ranges.minRipple, ranges.maxRipple)
            || ((passband == 2) != (characteristic == 7))) {
            refuse("value out of range");
            continue;
        }
        HO_FILTER_PARAMS hof;
        hof.passband = passband;
        hof.characteristic = static_cast<quint16>(characteristic);
        hof.frequency = f;
        hof.order = static_cast<quint16>(order);
        hof.ripple = ripple;
        hof.active = true;
        result.filters.append(hof);
    }
    return result;
}
