#include "CBlockFIR.h"

#include "ZunCrc16.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

const char kMagic[4] = {'Z', 'F', 'I', 'R'};
const double kSqrt06 = std::sqrt(0.6);

// Plausibility bounds of the stored limiter values: wide enough for any real system,
// narrow enough that no conversion overflows.
constexpr double kMaxAbsGainDb = 200.0;
constexpr double kMaxWatts = 1.0e9;
constexpr double kMaxSeconds = 1.0e6;
constexpr double kMaxOhms = 1.0e6;

// Limiter fields: the same numbers as the limiter table's rows.
enum Field { FGain = 0, FContinuous = 1, FSurge = 2, FSurgeDuration = 3, FThermal = 4,
             FRmsTime = 5, FPeak = 6, FImpedance = 7, FMaxLevel = 8 };

const double kDefaults[CBlockFIR::LimiterFields] = {
    26.0,   // amplifier gain, dB
    100.0,  // continuous threshold, W
    200.0,  // surge threshold, W
    0.1,    // surge duration, s
    100.0,  // thermal threshold, W
    5.0,    // RMS time constant, s
    400.0,  // peak threshold, W
    8.0,    // impedance, ohm
    18.0,   // maximum output level, dBu
};

// The DSP programs the device can hold, by their four digits (output 0 first).
const char* const kPrograms[] = {
    "0000", "0010", "0020", "0030", "0040", "0210", "0310", "0320", "0420", "0421",
    "1000", "1010", "1111", "2000", "2020", "2121", "2222", "3030", "3110", "3200",
    "3210", "3220", "4040", "4300", "4310", "4321", "4410", "4420",
};

// Cost model of a program, in DSP cycles per sample: a fixed part (IIR sections,
// limiters, routing) and per output a FIR part that doubles with each size class.
constexpr int kBaseCycles = 400;
constexpr int kCyclesPerClass = 100;
constexpr int kTapsClass0 = 256;    // taps of size class 0; class d holds 256 << d

quint16 getLe16(const QByteArray& a, int off)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(a.constData()) + off);
}
void putLe16(QByteArray& a, int off, quint16 v)
{
    qToLittleEndian<quint16>(v, reinterpret_cast<uchar*>(a.data()) + off);
}
quint32 getLe32(const QByteArray& a, int off)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(a.constData()) + off);
}
void putLe32(QByteArray& a, int off, quint32 v)
{
    qToLittleEndian<quint32>(v, reinterpret_cast<uchar*>(a.data()) + off);
}
double getLeDouble(const QByteArray& a, int off)
{
    const quint64 bits = qFromLittleEndian<quint64>(reinterpret_cast<const uchar*>(a.constData()) + off);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
void putLeDouble(QByteArray& a, int off, double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    qToLittleEndian<quint64>(bits, reinterpret_cast<uchar*>(a.data()) + off);
}
void put24(QByteArray& a, int off, qint32 v)
{
    const quint32 u = static_cast<quint32>(v) & 0xFFFFFFu;
    char* p = a.data() + off;
    p[0] = static_cast<char>((u >> 16) & 0xFF);
    p[1] = static_cast<char>((u >> 8) & 0xFF);
    p[2] = static_cast<char>(u & 0xFF);
}
qint32 get24(const char* p)
{
    const quint32 u = (static_cast<quint32>(static_cast<quint8>(p[0])) << 16)
                    | (static_cast<quint32>(static_cast<quint8>(p[1])) << 8)
                    | static_cast<quint32>(static_cast<quint8>(p[2]));
    return (u & 0x800000u) ? static_cast<qint32>(u) - 0x1000000 : static_cast<qint32>(u);
}
// Rounds into 0..0x7FFFFF; NaN gives 0 (never an undefined conversion).
qint32 clampTo24(double v)
{
    if (!(v > 0.0))
        return 0;
    if (v >= 8388607.0)
        return 8388607;
    return static_cast<qint32>(std::round(v));
}
qint32 toQ23(double x)
{
    return clampTo24(x * 8388608.0);
}

[[noreturn]] void bad(const QString& what)
{
    throw std::logic_error(("CBlockFIR: invalid filter image: " + what).toStdString());
}

// A limiter value the image may not hold, as the limiter table names it, with the range it
// must lie in: what a person editing the file needs to correct it. Outputs count from 1.
QString limiterValueRefusal(int output, int field, double v)
{
    static const char* const names[CBlockFIR::LimiterFields] = {
        "gain", "continuous output", "surge", "surge duration", "thermal limit", "RMS time constant",
        "peak limit", "impedance", "maximum output"};
    QString range;
    switch (field) {
    case FGain: range = QString("from %1 to %2 dB").arg(-kMaxAbsGainDb).arg(kMaxAbsGainDb); break;
    case FMaxLevel: range = QString("from %1 to %2 dBu").arg(-kMaxAbsGainDb).arg(kMaxAbsGainDb); break;
    case FSurgeDuration: case FRmsTime: range = QString("above 0 and at most %1 s").arg(kMaxSeconds, 0, 'f', 0); break;
    case FImpedance: range = QString("above 0 and at most %1 ohms").arg(kMaxOhms, 0, 'f', 0); break;
    default: range = QString("above 0 and at most %1 W").arg(kMaxWatts, 0, 'f', 0); break;
    }
    const QString value = std::isnan(v)   ? QString("not a number (NaN)")
                          : std::isinf(v) ? QString(v > 0 ? "infinite" : "minus infinite")
                                          : QString::number(v, 'g', 10);
    return QString("limiter value out of range: the %1 of output %2 is %3; it must be %4")
        .arg(names[field]).arg(output + 1).arg(value, range);
}

bool isReserved(int off)
{
    auto in = [off](int from, int size) { return off >= from && off < from + size; };
    return !(in(0, 22) || in(CBlockFIR::OffName, CBlockFIR::NameSize) || in(70, 2)
             || in(CBlockFIR::OffPathFlags, 4)
             || in(CBlockFIR::OffLimiter, CBlockFIR::Outputs * CBlockFIR::LimiterFields * 8)
             || in(CBlockFIR::OffOutputEntries, CBlockFIR::Outputs * CBlockFIR::OutputEntrySize)
             || in(CBlockFIR::OffDspLimiter, CBlockFIR::Outputs * CBlockFIR::DspLimiterWords * 3));
}

int sizeClass(int taps)
{
    int d = 0;
    while ((kTapsClass0 << d) < taps)
        ++d;
    return d;
}

double wattsToUnit(double w, double z, int unit)
{
    switch (unit) {
    case 1: return std::sqrt(w * z);
    case 2: return std::sqrt(2.0 * w * z);
    case 3: return 20.0 * std::log10(std::sqrt(w * z) / kSqrt06);
    case 4: return 20.0 * std::log10(std::sqrt(w * z));
    default: return w;
    }
}

// Inverse of wattsToUnit; NaN when the value has no power equivalent.
double unitToWatts(double v, double z, int unit)
{
    switch (unit) {
    case 1: return v > 0.0 ? v * v / z : std::nan("");
    case 2: return v > 0.0 ? v * v / (2.0 * z) : std::nan("");
    case 3: { const double vr = std::pow(10.0, v / 20.0) * kSqrt06; return vr * vr / z; }
    case 4: return std::pow(10.0, v / 10.0) / z;
    default: return v;
    }
}

} // namespace

CBlockFIR::invalid_filter::invalid_filter()
    : CZunException("Invalid FIR filter. Either the number coefficients or the target DSP platform is invalid.")
{
}

CBlockFIR::invalid_filter::invalid_filter(std::string detail) : invalid_filter()
{
    m_detail = std::move(detail);
}

QString CBlockFIR::invalid_filter::textOf(const std::exception& e)
{
    QString text = QString::fromStdString(e.what());
    if (const auto* fir = dynamic_cast<const invalid_filter*>(&e); fir && !fir->detail().empty()) {
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        text += QStringLiteral(": ") + QString::fromStdString(fir->detail()) + QLatin1Char('.');
    }
    return text;
}

CBlockFIR::CBlockFIR()
{
    // Every set starts as the same pass-through set: it is written and derived once and
    // copied, the copies sharing its image until they change theirs. It outlives every set
    // (a thread may still make one while the process ends).
    static const CBlockFIR* const defaults = new CBlockFIR(Defaults());
    *this = *defaults;
}

CBlockFIR::CBlockFIR(Defaults)
{
    writeDefaults();
    recompute();
}

CBlockFIR::CBlockFIR(const QByteArray& image)
{
    parse(image);
}

CBlockFIR::~CBlockFIR() = default;

void CBlockFIR::writeDefaults()
{
    m_param = QByteArray(ParamAreaSize, '\0');
    std::memcpy(m_param.data() + OffMagic, kMagic, 4);
    putLe16(m_param, OffVersion, FormatVersion);
    putLe16(m_param, OffAreaSize, ParamAreaSize);
    for (int o = 0; o < Outputs; ++o) {
        for (int f = 0; f < LimiterFields; ++f)
            putLeDouble(m_param, OffLimiter + (o * LimiterFields + f) * 8, kDefaults[f]);
        const int e = OffOutputEntries + o * OutputEntrySize;
        putLe16(m_param, e + 4, static_cast<quint16>(o));    // own limiter path, no FIR
        m_coeffs[static_cast<size_t>(o)].clear();
    }
}

void CBlockFIR::parse(const QByteArray& image)
{
    if (image.size() < ParamAreaSize)
        bad(QString("truncated: %1 bytes, the parameter area alone has %2").arg(image.size()).arg(ParamAreaSize));
    if (image.size() > MaxImageSize)
        bad(QString("too large: %1 bytes, at most %2").arg(image.size()).arg(MaxImageSize));

    QByteArray p = image.left(ParamAreaSize);
    if (std::memcmp(p.constData(), kMagic, 4) != 0)
        bad("no FIR image signature");
    if (getLe16(p, OffVersion) != FormatVersion)
        bad(QString("unsupported format version %1").arg(getLe16(p, OffVersion)));
    if (getLe16(p, OffAreaSize) != ParamAreaSize)
        bad("wrong parameter area size");
    if (getLe32(p, OffTotalSize) != static_cast<quint32>(image.size()))
        bad(QString("length field says %1 bytes, image has %2").arg(getLe32(p, OffTotalSize)).arg(image.size()));
    const quint16 storedCrc = getLe16(p, OffParamCrc);
    putLe16(p, OffParamCrc, 0);
    if (Crc16_8BB7(p.constData(), p.size()) != storedCrc)
        bad("CRC error in the parameter area");
    putLe16(p, OffParamCrc, storedCrc);
    for (int off = 0; off < ParamAreaSize; ++off)
        if (isReserved(off) && p.at(off) != 0)
            bad(QString("reserved byte %1 is not zero").arg(off));
    // Only NUL may follow the name's end, so that reading and writing keep every byte.
    const int nameEnd = p.indexOf('\0', OffName);
    for (int off = nameEnd; nameEnd >= 0 && off < OffName + NameSize; ++off)
        if (p.at(off) != 0)
            bad("name field holds data after its end");

    float rate;
    const quint32 rateBits = getLe32(p, OffSampleRate);
    std::memcpy(&rate, &rateBits, sizeof rate);
    if (!std::isfinite(rate) || (rate != 0.0f && (rate < 1000.0f || rate > 768000.0f)))
        bad(QString("implausible sample rate %1").arg(static_cast<double>(rate)));
    const qint8 mp = static_cast<qint8>(p.at(OffMultipath));
    if (mp < 0 || mp > 4)
        bad(QString("unknown multipath mode %1").arg(mp));
    if ((getLe16(p, OffDspProgramId) >> 12) > 2)
        bad("invalid DSP program id");

    for (int o = 0; o < Outputs; ++o) {
        for (int f = 0; f < LimiterFields; ++f) {
            const double v = getLeDouble(p, OffLimiter + (o * LimiterFields + f) * 8);
            bool ok = std::isfinite(v);
            switch (f) {
            case FGain: case FMaxLevel: ok = ok && std::fabs(v) <= kMaxAbsGainDb; break;
            case FSurgeDuration: case FRmsTime: ok = ok && v > 0.0 && v <= kMaxSeconds; break;
            case FImpedance: ok = ok && v > 0.0 && v <= kMaxOhms; break;
            default: ok = ok && v > 0.0 && v <= kMaxWatts; break;
            }
            if (!ok)
                bad(limiterValueRefusal(o, f, v));
        }
        const int e = OffOutputEntries + o * OutputEntrySize;
        const quint16 latency = getLe16(p, e);
        const quint16 count = getLe16(p, e + 2);
        const quint16 w2 = getLe16(p, e + 4);
        const int kind = w2 >> 8;
        if ((w2 & 0xFF) > 3 || kind > 1)
            bad(QString("invalid entry of output %1").arg(o));
        if (count > MaxCoefficients)
            throw invalid_filter(QString("output %1 has %2 coefficients, at most %3 are possible")
                                     .arg(o + 1).arg(count).arg(MaxCoefficients).toStdString());
        if ((kind == 0) != (count == 0))
            bad(QString("wrong coefficient count %1 for output %2").arg(count).arg(o));
        if (latency > count)
            bad(QString("latency %1 of output %2 exceeds its %3 coefficients").arg(latency).arg(o).arg(count));
    }

    // Coefficient blocks, one per output with coefficients, in output order.
    std::array<QVector<qint32>, Outputs> coeffs;
    qsizetype pos = ParamAreaSize;
    for (int o = 0; o < Outputs; ++o) {
        const int count = getLe16(p, OffOutputEntries + o * OutputEntrySize + 2);
        if (count == 0)
            continue;
        const qsizetype blockSize = BlockOverhead + 3 * qsizetype(count);
        if (image.size() - pos < 4)
            bad(QString("truncated before the block of output %1").arg(o));
        const char* b = image.constData() + pos;
        const int blockCount = (static_cast<quint8>(b[2]) << 8) | static_cast<quint8>(b[3]);
        if (static_cast<quint8>(b[0]) != (0xC0 | o) || b[1] != 0)
            bad(QString("block header of output %1 expected").arg(o));
        if (blockCount != count)
            bad(QString("wrong coefficient count: output %1 declares %2, its block holds %3")
                    .arg(o).arg(count).arg(blockCount));
        if (image.size() - pos < blockSize)
            bad(QString("truncated inside the block of output %1").arg(o));
        const quint16 crc = static_cast<quint16>((static_cast<quint8>(b[blockSize - 2]) << 8)
                                                 | static_cast<quint8>(b[blockSize - 1]));
        if (Crc16_8BB7(b, blockSize - 2) != crc)
            bad(QString("CRC error in the coefficient block of output %1").arg(o));
        QVector<qint32>& c = coeffs[static_cast<size_t>(o)];
        c.resize(count);
        for (int i = 0; i < count; ++i)
            c[i] = get24(b + 4 + 3 * i);
        pos += blockSize;
    }
    if (pos != image.size())
        bad(QString("%1 unexpected bytes after the last coefficient block").arg(image.size() - pos));

    m_param = p;
    m_coeffs = coeffs;
    // The warnings are not part of the image; derive them without touching the bytes.
    refreshWarnings();
}

QByteArray CBlockFIR::serialise(const QString& name) const
{
    QByteArray p = m_param;
    QByteArray nameBytes = storableName(name).toLatin1();
    nameBytes.append(QByteArray(NameSize - nameBytes.size(), '\0'));
    std::memcpy(p.data() + OffName, nameBytes.constData(), NameSize);

    QByteArray blocks;
    for (int o = 0; o < Outputs; ++o) {
        const QVector<qint32>& c = m_coeffs[static_cast<size_t>(o)];
        if (c.isEmpty())
            continue;
        QByteArray b(BlockOverhead + 3 * c.size(), '\0');
        b[0] = static_cast<char>(0xC0 | o);
        b[2] = static_cast<char>((c.size() >> 8) & 0xFF);
        b[3] = static_cast<char>(c.size() & 0xFF);
        for (int i = 0; i < c.size(); ++i)
            put24(b, 4 + 3 * i, c[i]);
        const quint16 crc = Crc16_8BB7(b.constData(), b.size() - 2);
        b[b.size() - 2] = static_cast<char>(crc >> 8);
        b[b.size() - 1] = static_cast<char>(crc & 0xFF);
        blocks.append(b);
    }
    putLe32(p, OffTotalSize, static_cast<quint32>(ParamAreaSize + blocks.size()));
    putLe16(p, OffParamCrc, 0);
    putLe16(p, OffParamCrc, Crc16_8BB7(p.constData(), p.size()));
    return p + blocks;
}

QString CBlockFIR::storableName(const QString& name)
{
    QByteArray bytes = name.toLatin1().left(NameSize);
    if (bytes.contains('\0'))
        bytes.truncate(bytes.indexOf('\0'));
    return QString::fromLatin1(bytes);
}

QString CBlockFIR::storedName() const
{
    QByteArray n = m_param.mid(OffName, NameSize);
    const int nul = n.indexOf('\0');
    if (nul >= 0)
        n.truncate(nul);
    return QString::fromLatin1(n);
}

void CBlockFIR::checkOutput(int output, const char* where)
{
    if (output < 0 || output >= Outputs)
        throw std::out_of_range(std::string(where) + ": invalid output " + std::to_string(output)
                                + ". Valid values are between 0 and 3.");
}

double CBlockFIR::sampleRate() const
{
    float rate;
    const quint32 bits = getLe32(m_param, OffSampleRate);
    std::memcpy(&rate, &bits, sizeof rate);
    return static_cast<double>(rate);
}

void CBlockFIR::setSampleRate(double rate)
{
    if (!std::isfinite(rate) || (rate != 0.0 && (rate < 1000.0 || rate > 768000.0)))
        throw std::out_of_range("CBlockFIR::setSampleRate(): sample rate of " + std::to_string(rate)
                                + " is out of bounds. Valid values are 0 or between 1000 and 768000.");
    const float f = static_cast<float>(rate);
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    putLe32(m_param, OffSampleRate, bits);
    recompute();
}

quint16 CBlockFIR::dspProgramId() const { return getLe16(m_param, OffDspProgramId); }

void CBlockFIR::setDspProgramId(quint16 id)
{
    if ((id >> 12) > 2)
        throw std::out_of_range("CBlockFIR::setDspProgramId(): invalid DSP program id");
    putLe16(m_param, OffDspProgramId, id);
}

quint16 CBlockFIR::downSamplingFactor() const { return getLe16(m_param, OffDownSampling); }

bool CBlockFIR::sameFilter(const CBlockFIR& other) const
{
    auto field = [](const QByteArray& area, int offset, int size) { return area.mid(offset, size); };
    for (const auto& [offset, size] : {std::pair<int, int>{OffSampleRate, 4}, {OffMultipath, 1}, {OffPathFlags, Outputs},
                                       {OffOutputEntries, Outputs * OutputEntrySize}})
        if (field(m_param, offset, size) != field(other.m_param, offset, size))
            return false;
    return m_coeffs == other.m_coeffs;
}

qint8 CBlockFIR::multipathMode() const { return static_cast<qint8>(m_param.at(OffMultipath)); }

void CBlockFIR::setMultipathMode(int mode)
{
    if (mode < 0 || mode > 4)
        throw std::out_of_range("CBlockFIR::setMultipathMode(): invalid multipath mode "
                                + std::to_string(mode) + ". Valid values are between 0 and 4.");
    m_param[OffMultipath] = static_cast<char>(mode);
}

quint8 CBlockFIR::ownPathCount() const { return static_cast<quint8>(m_param.at(OffOwnPathCount)); }

quint8 CBlockFIR::pathFlagByte(int output) const
{
    checkOutput(output, "CBlockFIR::pathFlag()");
    return static_cast<quint8>(m_param.at(OffPathFlags + output));
}

void CBlockFIR::setPathFlagByte(int output, quint8 flag)
{
    checkOutput(output, "CBlockFIR::setPathFlag()");
    m_param[OffPathFlags + output] = static_cast<char>(flag);
}

quint16 CBlockFIR::entryLatency(int output) const
{
    checkOutput(output, "CBlockFIR::entryLatency()");
    return getLe16(m_param, OffOutputEntries + output * OutputEntrySize);
}

quint16 CBlockFIR::entryCoefficientCount(int output) const
{
    checkOutput(output, "CBlockFIR::entryCoefficientCount()");
    return getLe16(m_param, OffOutputEntries + output * OutputEntrySize + 2);
}

int CBlockFIR::entryLimiterPath(int output) const
{
    checkOutput(output, "CBlockFIR::entryLimiterPath()");
    return getLe16(m_param, OffOutputEntries + output * OutputEntrySize + 4) & 0xFF;
}

bool CBlockFIR::entryIsFir(int output) const
{
    checkOutput(output, "CBlockFIR::entryIsFir()");
    return (getLe16(m_param, OffOutputEntries + output * OutputEntrySize + 4) >> 8) == 1;
}

QVector<qint32> CBlockFIR::coefficients(int output) const
{
    checkOutput(output, "CBlockFIR::coefficients()");
    return m_coeffs[static_cast<size_t>(output)];
}

void CBlockFIR::setOutput(int output, const QVector<qint32>& coefficients, quint16 latency, int limiterPath)
{
    checkOutput(output, "CBlockFIR::setOutput()");
    if (coefficients.size() > MaxCoefficients)
        throw invalid_filter(QString("output %1 has %2 coefficients, at most %3 are possible")
                                 .arg(output + 1).arg(coefficients.size()).arg(MaxCoefficients).toStdString());
    if (limiterPath < 0 || limiterPath >= Outputs)
        throw std::out_of_range("CBlockFIR::setOutput(): invalid limiter path " + std::to_string(limiterPath));
    if (latency > coefficients.size())
        throw std::out_of_range("CBlockFIR::setOutput(): latency exceeds the coefficient count");
    for (qint32 c : coefficients)
        if (c < -0x800000 || c > 0x7FFFFF)
            throw std::out_of_range("CBlockFIR::setOutput(): coefficient outside the 24-bit range");
    const int e = OffOutputEntries + output * OutputEntrySize;
    const bool fir = !coefficients.isEmpty();
    putLe16(m_param, e, fir ? latency : 0);
    putLe16(m_param, e + 2, static_cast<quint16>(coefficients.size()));
    putLe16(m_param, e + 4, static_cast<quint16>((fir ? 0x100 : 0) | limiterPath));
    m_coeffs[static_cast<size_t>(output)] = coefficients;
    recompute();
}

bool CBlockFIR::isDefaultCrossover() const
{
    for (int o = 0; o < Outputs; ++o)
        if (entryIsFir(o))
            return false;
    return true;
}

void CBlockFIR::checkFilterResources()
{
    int needed[Outputs];
    for (int o = 0; o < Outputs; ++o) {
        const int n = m_coeffs[static_cast<size_t>(o)].size();
        if (n > MaxCoefficients)
            throw invalid_filter(QString("output %1 has %2 coefficients, at most %3 are possible")
                                     .arg(o).arg(n).arg(MaxCoefficients).toStdString());
        needed[o] = sizeClass(n);
    }
    const double rate = sampleRate() > 0.0 ? sampleRate() : 48000.0;
    const double budget307 = Mips307 * 1.0e6 / rate;
    const double budget321 = Mips321 * 1.0e6 / rate;

    int best307 = -1, best321 = -1, cost307 = 0, cost321 = 0, cheapest = -1;
    for (const char* prog : kPrograms) {
        int id = 0, cost = kBaseCycles;
        bool fits = true;
        for (int k = 0; k < Outputs; ++k) {
            const int d = prog[k] - '0';
            fits = fits && d >= needed[k];
            id |= d << (3 * (3 - k));
            cost += kCyclesPerClass << d;
        }
        if (!fits)
            continue;
        if (cheapest < 0 || cost < cheapest)
            cheapest = cost;
        if (cost <= budget307 && (best307 < 0 || cost < cost307)) {
            best307 = id;
            cost307 = cost;
        }
        if (cost <= budget321 && (best321 < 0 || cost < cost321)) {
            best321 = id;
            cost321 = cost;
        }
    }
    if (best307 >= 0)
        setDspProgramId(static_cast<quint16>(best307));
    else if (best321 >= 0)
        setDspProgramId(static_cast<quint16>(best321 | 0x1000));
    else if (cheapest < 0)
        throw invalid_filter("no DSP program holds coefficient blocks of these sizes");
    else
        throw invalid_filter(QString("the filter needs %1 DSP cycles per sample at %2 Hz, at most %3 are available")
                                 .arg(cheapest).arg(rate).arg(static_cast<int>(budget321)).toStdString());
}

void CBlockFIR::update()
{
    recompute();
}

void CBlockFIR::recompute()
{
    const double rate = sampleRate() > 0.0 ? sampleRate() : 48000.0;
    const int factor = std::max(1, static_cast<int>(std::lround(rate / 48000.0)));
    const double limiterRate = rate / factor;
    putLe16(m_param, OffDownSampling, static_cast<quint16>(factor));

    int own = 0;
    for (int o = 0; o < Outputs; ++o) {
        const int path = entryLimiterPath(o);
        own += path == o ? 1 : 0;
        const double gainLin = std::pow(10.0, ampGain(o) / 20.0);
        const double fullScale = std::pow(10.0, limiterField(o, FMaxLevel) / 20.0) * kSqrt06;
        const double z = impedance(o);
        const int base = OffDspLimiter + o * DspLimiterWords * 3;
        const int fields[4] = {FContinuous, FSurge, FThermal, FPeak};
        for (int i = 0; i < 4; ++i) {
            const double vCtrl = std::sqrt(limiterField(o, fields[i]) * z) / gainLin;
            put24(m_param, base + 3 * i, toQ23(vCtrl / fullScale));
        }
        put24(m_param, base + 12, clampTo24(surgeDuration(o) * limiterRate));
        put24(m_param, base + 15, toQ23(std::exp(-1.0 / (rmsTimeConstant(o) * limiterRate))));
        put24(m_param, base + 18, path);
    }
    m_param[OffOwnPathCount] = static_cast<char>(own);
    refreshWarnings();
}

void CBlockFIR::refreshWarnings()
{
    const int rows[4] = {RowContinuous, RowSurge, RowThermal, RowPeak};
    for (int r = 0; r < 4; ++r)
        for (int o = 0; o < Outputs; ++o)
            m_exceeds[static_cast<size_t>(r)][static_cast<size_t>(o)] = thresholdExceedsMax(rows[r], o);
}

double CBlockFIR::limiterField(int output, int field) const
{
    checkOutput(output, "CBlockFIR: limiter value");
    return getLeDouble(m_param, OffLimiter + (output * LimiterFields + field) * 8);
}

void CBlockFIR::setLimiterField(int output, int field, double value)
{
    checkOutput(output, "CBlockFIR: limiter value");
    putLeDouble(m_param, OffLimiter + (output * LimiterFields + field) * 8, value);
    m_limiterModified = true;
    recompute();
}

void CBlockFIR::takeLimiterValues(const CBlockFIR& other)
{
    const int size = Outputs * LimiterFields * 8;
    m_param.replace(OffLimiter, size, other.m_param.mid(OffLimiter, size));
    m_limiterModified = true;
    recompute();
}

double CBlockFIR::ampGain(int output) const { return limiterField(output, FGain); }
double CBlockFIR::surgeDuration(int output) const { return limiterField(output, FSurgeDuration); }
double CBlockFIR::rmsTimeConstant(int output) const { return limiterField(output, FRmsTime); }
double CBlockFIR::impedance(int output) const { return limiterField(output, FImpedance); }

void CBlockFIR::setAmpGain(double value, int output)
{
    if (!std::isfinite(value) || std::fabs(value) > kMaxAbsGainDb)
        throw std::out_of_range(QString("CBlockFIR::setAmpGain(): gain value of %1 is out of bounds. Valid values are between %2 and %3.")
                                    .arg(value).arg(-kMaxAbsGainDb).arg(kMaxAbsGainDb).toStdString());
    if (std::fabs(value - ampGain(output)) > 1e-5)
        setLimiterField(output, FGain, value);
}

void CBlockFIR::setSurgeDuration(double value, int output)
{
    if (!std::isfinite(value) || value <= 0.0 || value > kMaxSeconds)
        throw std::out_of_range(QString("CBlockFIR::setSurgeDuration(): duration of %1 is out of bounds. Valid values are above 0 and up to %2.")
                                    .arg(value).arg(kMaxSeconds).toStdString());
    // Finer than the limiter table's editor (0.1 ms), so that every step it offers is stored.
    if (std::fabs(value - surgeDuration(output)) >= 1e-5)
        setLimiterField(output, FSurgeDuration, value);
}

void CBlockFIR::setRmsTimeConstant(double value, int output)
{
    if (!std::isfinite(value) || value <= 0.0 || value > kMaxSeconds)
        throw std::out_of_range(QString("CBlockFIR::setRmsTimeConstant(): time constant of %1 is out of bounds. Valid values are above 0 and up to %2.")
                                    .arg(value).arg(kMaxSeconds).toStdString());
    if (std::fabs(value - rmsTimeConstant(output)) >= 1e-5)
        setLimiterField(output, FRmsTime, value);
}

void CBlockFIR::setImpedance(double value, int output)
{
    if (!std::isfinite(value) || value <= 0.0 || value > kMaxOhms)
        throw std::out_of_range(QString("CBlockFIR::setImpedance(): impedance of %1 is out of bounds. Valid values are above 0 and up to %2.")
                                    .arg(value).arg(kMaxOhms).toStdString());
    if (value != impedance(output))
        setLimiterField(output, FImpedance, value);
}

int CBlockFIR::thresholdField(int row, const char* where)
{
    if (row == RowContinuous || row == RowSurge || row == RowThermal || row == RowPeak)
        return row;
    throw std::out_of_range(std::string(where) + ": row " + std::to_string(row) + " holds no threshold");
}

double CBlockFIR::limiterThreshold(int row, int output, int unit, int reference) const
{
    double w = limiterField(output, thresholdField(row, "CBlockFIR::limiterThreshold()"));
    if (reference == 1)
        w /= std::pow(10.0, ampGain(output) / 10.0);
    return wattsToUnit(w, impedance(output), unit);
}

bool CBlockFIR::setLimiterThreshold(int row, double value, int output, int unit, int reference)
{
    const int field = thresholdField(row, "CBlockFIR::setLimiterThreshold()");
    checkOutput(output, "CBlockFIR::setLimiterThreshold()");
    if (!std::isfinite(value))
        return false;
    double w = unitToWatts(value, impedance(output), unit);
    if (reference == 1)
        w *= std::pow(10.0, ampGain(output) / 10.0);
    if (!std::isfinite(w) || w <= 0.0 || w > kMaxWatts)
        return false;
    setLimiterField(output, field, w);
    return true;
}

double CBlockFIR::limiterThresholdContinuous(int output, int unit, int reference) const
{ return limiterThreshold(RowContinuous, output, unit, reference); }
double CBlockFIR::limiterThresholdSurge(int output, int unit, int reference) const
{ return limiterThreshold(RowSurge, output, unit, reference); }
double CBlockFIR::limiterThresholdThermal(int output, int unit, int reference) const
{ return limiterThreshold(RowThermal, output, unit, reference); }
double CBlockFIR::limiterThresholdPeak(int output, int unit, int reference) const
{ return limiterThreshold(RowPeak, output, unit, reference); }
bool CBlockFIR::setLimiterThresholdContinuous(double value, int output, int unit, int reference)
{ return setLimiterThreshold(RowContinuous, value, output, unit, reference); }
bool CBlockFIR::setLimiterThresholdSurge(double value, int output, int unit, int reference)
{ return setLimiterThreshold(RowSurge, value, output, unit, reference); }
bool CBlockFIR::setLimiterThresholdThermal(double value, int output, int unit, int reference)
{ return setLimiterThreshold(RowThermal, value, output, unit, reference); }
bool CBlockFIR::setLimiterThresholdPeak(double value, int output, int unit, int reference)
{ return setLimiterThreshold(RowPeak, value, output, unit, reference); }

double CBlockFIR::maxOutputLevel(int output, int unit, int reference) const
{
    double dbu = limiterField(output, FMaxLevel);
    if (reference == 0)
        dbu += ampGain(output);
    const double vrms = std::pow(10.0, dbu / 20.0) * kSqrt06;
    switch (unit) {
    case 0: return vrms * vrms / impedance(output);
    case 1: return vrms;
    case 2: return std::sqrt(2.0) * vrms;
    case 4: return 20.0 * std::log10(vrms);
    default: return dbu;
    }
}

void CBlockFIR::setMaxLevel(double value, int output, int unit)
{
    setMaxLevel(value, output, unit, 1);
}

void CBlockFIR::setMaxLevel(double value, int output, int unit, int reference)
{
    checkOutput(output, "CBlockFIR::setMaxLevel()");
    const double z = impedance(output);
    double vrms;
    switch (unit) {
    case 0: vrms = value > 0.0 ? std::sqrt(value * z) : std::nan(""); break;
    case 1: vrms = value > 0.0 ? value : std::nan(""); break;
    case 2: vrms = value > 0.0 ? value / std::sqrt(2.0) : std::nan(""); break;
    case 4: vrms = std::pow(10.0, value / 20.0); break;
    default: vrms = std::pow(10.0, value / 20.0) * kSqrt06; break;
    }
    double dbu = 20.0 * std::log10(vrms / kSqrt06);
    // The inverse of the getter: a level at the amplifier output includes its gain.
    if (reference == 0)
        dbu -= ampGain(output);
    if (!std::isfinite(value) || !std::isfinite(dbu) || std::fabs(dbu) > kMaxAbsGainDb)
        throw std::out_of_range(QString("CBlockFIR::setMaxLevel(): maximum output level of %1 is out of bounds.")
                                    .arg(value).toStdString());
    if (dbu != limiterField(output, FMaxLevel))
        setLimiterField(output, FMaxLevel, dbu);
}

bool CBlockFIR::thresholdExceedsMax(int row, int output) const
{
    // Both sides at the controller output in V rms; the unit does not change the answer.
    const double v = limiterThreshold(row, output, 1, 1);
    const double vmax = maxOutputLevel(output, 1, 1);
    return v > vmax * (1.0 + 1e-9);
}

QString CBlockFIR::checkMaxOutputLevel(int row, int output, int unit, int reference) const
{
    thresholdField(row, "CBlockFIR::checkMaxOutputLevel()");
    if (!thresholdExceedsMax(row, output))
        return QString();
    const int shownUnit = (unit >= 0 && unit <= 4) ? unit : 0;
    return QString("The max. output level of the Zun is 18 dBu. The selected threshold of %1 %2 exceeds the maximum %3 of %4 %2")
        .arg(limiterThreshold(row, output, shownUnit, reference))
        .arg(unitText(shownUnit))
        .arg(reference == 1 ? QString("at the Zun output") : QString("at the amplifier output"))
        .arg(maxOutputLevel(output, shownUnit, reference));
}

bool CBlockFIR::hasLimiterText(int row, int output) const
{
    checkOutput(output, "CBlockFIR::hasLimiterText()");
    switch (row) {
    case RowContinuous: return m_exceeds[0][static_cast<size_t>(output)];
    case RowSurge: return m_exceeds[1][static_cast<size_t>(output)];
    case RowThermal: return m_exceeds[2][static_cast<size_t>(output)];
    case RowPeak: return m_exceeds[3][static_cast<size_t>(output)];
    default: return false;
    }
}

QString CBlockFIR::unitText(int unit)
{
    switch (unit) {
    case 0: return "W";
    case 1: case 2: return "V";
    case 3: return "dBu";
    case 4: return "dBV";
    case 5: return "dB";
    default: return QString();
    }
}
