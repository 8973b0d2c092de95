#include "ZunSetupImport.h"

#include "CCmdMap.h"
#include "CZunStatusBuffer.h"

#include <QFile>
#include <QtEndian>

#include <boost/numeric/conversion/cast.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>

const char* const ZunSetupImport::DowngradeText =
    "It is not possible to downgrade a setup to a lower version number. Setups are not backwards compatible.";

quint16 ZunSetupImport::MapNames::nr(const QString& name) const { return m_map.getCmdNr(name); }
double ZunSetupImport::MapNames::flt(const QString& name) const { return m_map.getFltConst(name); }
QSet<QString> ZunSetupImport::MapNames::names() const { return m_map.getNameSet(); }

namespace
{
constexpr int Words = CZunStatusBuffer::ImageWords;
constexpr int RecordWords = 5;
constexpr quint16 HighShelf12Active = 8;

// Word access on a whole image; numbers at or above the image's end read 0 / store nothing.
quint16 get(const QByteArray& b, int n)
{
    if (n < 0 || n >= Words || 2 * n + 1 >= b.size())
        return 0;
    return qFromLittleEndian<quint16>(b.constData() + 2 * n);
}
void put(QByteArray& b, int n, quint16 v)
{
    if (n < 0 || n >= Words || 2 * n + 1 >= b.size())
        return;
    qToLittleEndian<quint16>(v, b.data() + 2 * n);
}

// Truncates toward zero into 16 bits; a value that does not fit is refused.
template <typename T>
T conv(double x, const char* what)
{
    try {
        return boost::numeric_cast<T>(std::trunc(x));
    } catch (const boost::numeric::bad_numeric_cast&) {
        throw std::logic_error(QStringLiteral("Setup import: the converted %1 (%2) does not fit its parameter word.")
                                   .arg(QLatin1String(what))
                                   .arg(x)
                                   .toStdString());
    }
}
} // namespace

QByteArray ZunSetupImport::defaultImage(quint16 version)
{
    QFile f(QStringLiteral(":/resources/System/DSPVar%1.zun").arg(version));
    if (!f.open(QIODevice::ReadOnly))
        throw std::logic_error("CZunStatusBuffer: can not find default setup. Can not import from older setups.\n"
                               "Contact Orvanta for a newer ZunControl release");
    const QByteArray image = f.readAll();
    if (image.size() != CZunStatusBuffer::ImageBytes)
        throw std::logic_error("CZunStatusBuffer: the default setup is damaged. Can not import from older setups.");
    return image;
}

QByteArray ZunSetupImport::convert(const QByteArray& src, quint16 from, quint16 to, const QByteArray& defaults,
                                   const Names& o, const Names& n, const RoutingWord& routing)
{
    if (from > to)
        throw std::logic_error(DowngradeText);
    if (src.size() != CZunStatusBuffer::ImageBytes || defaults.size() != CZunStatusBuffer::ImageBytes)
        throw std::logic_error("Setup import: an image is not 3400 bytes long.");
    QByteArray img = defaults;

    // Every parameter both versions know, by name.
    QSet<QString> common = o.names();
    common.intersect(n.names());
    for (const QString& name : common) {
        if (!name.startsWith(QLatin1String("Cmd_")))
            continue;
        const quint16 nn = n.nr(name), on = o.nr(name);
        if (nn < Words && on < Words)
            put(img, nn, get(src, on));
    }
    put(img, n.nr("Cmd_Version"), to);
    img.replace(CZunStatusBuffer::SetupNameOffset, CZunStatusBuffer::SetupNameBytes,
                src.mid(CZunStatusBuffer::SetupNameOffset, CZunStatusBuffer::SetupNameBytes));

    const int qE = o.nr("Inf_DSPx_Qty_ParEQ"), qF = o.nr("Inf_DSPx_Qty_ParFi");
    const quint16 clock = get(src, o.nr("Cmd_ClockSel"));
    const double rate = clock == 1 ? 48000.0 : clock == 2 ? 96000.0 : clock == 3 ? 192000.0 : 0.0;
    const double Qo = o.flt("Step_EQ_Q"), Qn = n.flt("Step_EQ_Q");
    const double Fn = n.flt("Step_EQ_F"), Gn = n.flt("Step_EQ_G");
    // Without a known clock the shelf frequencies cannot be converted; they keep their words.
    const bool shelves = to >= 1075 && from < 1075 && rate > 0.0;

    for (const char* dsp : {"0", "1"}) {
        const int oE = o.nr(QStringLiteral("Inf_DSP%1_ParBaseEQ").arg(dsp));
        const int oF = o.nr(QStringLiteral("Inf_DSP%1_ParBaseFi").arg(dsp));
        const int nE = n.nr(QStringLiteral("Inf_DSP%1_ParBaseEQ").arg(dsp));
        const int nF = n.nr(QStringLiteral("Inf_DSP%1_ParBaseFi").arg(dsp));
        for (int k = 0; k < qE; ++k)
            put(img, nE + k, get(src, oE + k));
        for (int k = 0; k < qF; ++k)
            put(img, nF + k, get(src, oF + k));
        for (int r = 0; r + RecordWords <= qE; r += RecordWords) {
            put(img, nE + r + 2, conv<quint16>(get(src, oE + r + 2) * Qo / Qn + 0.5, "EQ quality"));
            if (!shelves || get(src, oE + r) != HighShelf12Active)
                continue;
            const double c = M_PI / rate;
            double f = get(src, oE + r + 1) * Fn;
            const double g = qint16(get(src, oE + r + 3)) * Gn;
            if (g > 0)
                f = std::atan(std::tan(f * c) * std::pow(2.0, g / -12.0412)) / c;
            put(img, nE + r + 1, conv<quint16>(f / Fn + 0.5, "shelf frequency"));
        }
    }

    if (to >= 1072 && from < 1072) {
        const quint16 w = routing(get(src, o.nr("Cmd_SPI_Routing")));
        put(img, n.nr("Cmd_SPI_Routing"), w);
        put(img, n.nr("Cmd_DSP_Routing"), w);

        const double So = o.flt("Step_Gain"), Sn = n.flt("Step_Gain");
        auto gain = [&](const QString& name, int k) {
            const double x = qint16(get(src, o.nr(name) + k)) * So / Sn + 0.5;
            put(img, n.nr(name) + k, quint16(conv<qint16>(x, "gain")));
        };
        for (int k = 0; k < 4; ++k)
            gain(QStringLiteral("Cmd_0_ChGain0"), k);
        for (int k = 0; k < 4; ++k)
            gain(QStringLiteral("Cmd_1_ChGain0"), k);
        gain(QStringLiteral("Cmd_0_MasterGain"), 0);
        gain(QStringLiteral("Cmd_1_MasterGain"), 0);

        if (rate == 48000.0 || rate == 192000.0) {
            const double oldStep = o.flt("Step_Delay") / 1000.0;
            const double newStep = 0.000010416666666666666;
            for (const char* name : {"Cmd_0_ChDelay0", "Cmd_1_ChDelay0"})
                for (int k = 0; k < 4; ++k) {
                    const double x = get(src, o.nr(name) + k) * oldStep / newStep + 0.1;
                    put(img, n.nr(name) + k, conv<quint16>(x, "delay"));
                }
            for (const char* name : {"Cmd_0_MasterDelay", "Cmd_1_MasterDelay"}) {
                const double x = get(src, o.nr(name)) * o.flt("Step_Delay") / n.flt("Step_MDelay") + 0.1;
                put(img, n.nr(name), conv<quint16>(x, "master delay"));
            }
        }
    }

    if (to >= 1079 && from < 1079)
        put(img, n.nr("Cmd_LED"), quint16(16 - std::min<quint16>(get(src, o.nr("Cmd_LED")), 16)));
    return img;
}
