#include "FilterLimiterEWS.h"

#include "ZunCrc16.h"
#include "ZunFirFile.h"

#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QVector>

#include <cstring>
#include <stdexcept>

const char* const FilterLimiterEWS::DefaultName = "FIR filter";

namespace {

QString multipathText(int mode)
{
    switch (mode) {
    case 0: return "None";
    case 1: return "Mid+Hi";
    case 2: return "Lo+Mid";
    case 3: return "Lo+Mid+Hi";
    case 4: return "2 x Mid+High";
    default: return QString();
    }
}

const char* const ThruName = "Thru";

// The pass-through set of a rate: its image and its key.
struct PassThrough
{
    quint64 rateBits = 0;   // the rate as asked for (0.0 and -0.0 store different images)
    CBlockFIR image;
    quint32 key = 0;
};

// A device builds the pass-through set on every directory it reads from a processor
// without sets, and it is the same set every time at a rate: it is made once per rate and
// copied, each copy sharing the image until it changes its own. The last few rates are
// kept; a program meets one or two. They outlive every set (a thread may still make one
// while the process ends).
PassThrough passThrough(double sampleRate)
{
    static QMutex* const lock = new QMutex;
    static QVector<PassThrough>* const made = new QVector<PassThrough>;
    quint64 bits;
    std::memcpy(&bits, &sampleRate, sizeof bits);
    QMutexLocker locker(lock);
    for (const PassThrough& p : qAsConst(*made))
        if (p.rateBits == bits)
            return p;
    PassThrough p;
    p.rateBits = bits;
    p.image.setSampleRate(sampleRate);   // throws for a rate out of bounds, which is not kept
    p.key = ZunCrc16Data(p.image.serialise(ThruName));
    if (made->size() == 8)
        made->removeFirst();
    made->append(p);
    return p;
}

} // namespace

FilterLimiterEWS::FilterLimiterEWS(CFIRLimManagerInterface* manager, const QString& fileName, double sampleRate)
    : m_manager(manager)
{
    init(fileName, sampleRate);
}

FilterLimiterEWS::FilterLimiterEWS(const QString& fileName, double sampleRate, QObject* parent)
    : CZunAbstractFrequencyResponse(DefaultPoints, DefaultStart, DefaultEnd, parent)
{
    init(fileName, sampleRate);
}

FilterLimiterEWS::FilterLimiterEWS(CFIRLimManagerInterface* manager, const QByteArray& data)
    : CBlockFIR(data), m_manager(manager)
{
    m_defaultName = DefaultName;
    m_name = storedName();
    computeKey();
}

void FilterLimiterEWS::init(const QString& fileName, double sampleRate)
{
    m_defaultName = DefaultName;
    if (fileName.isEmpty()) {
        const PassThrough thru = passThrough(sampleRate);
        CBlockFIR::operator=(thru.image);
        m_name = ThruName;
        m_key = thru.key;
    } else {
        QStringList notes;
        const QByteArray image = ZunFirFile::readImage(fileName, &notes);
        if (!notes.isEmpty())
            m_readNote = QString("FIR file %1: %2.").arg(QFileInfo(fileName).fileName(), notes.join("; "));
        try {
            CBlockFIR::operator=(CBlockFIR(image));
        } catch (const std::logic_error& e) {
            // Name the file: the image's own text does not know it.
            throw std::logic_error(QString("FIR file '%1' can not be read: %2").arg(fileName, e.what()).toStdString());
        }
        if (CBlockFIR::sampleRate() == 0.0 && sampleRate != 0.0)
            setSampleRate(sampleRate);
        // A file may be damaged or edited by hand with a repaired checksum: its DSP limiter
        // words are derived again from the limiter values it shows, so that what is
        // uploaded limits as the table says (as reading a setup does).
        update();
        m_name = storedName();
        computeKey();
    }
}

QByteArray FilterLimiterEWS::toByteArray() const
{
    return serialise(m_name);
}

quint32 FilterLimiterEWS::computeKey()
{
    m_key = ZunCrc16Data(toByteArray());
    setLimiterModified(false);
    return m_key;
}

QString FilterLimiterEWS::makeFileName(bool withKey) const
{
    QString name = GetName().trimmed();
    if (withKey)
        name += "___" + QString::number(m_key, 16);
    name = ZunFirFile::plainFileName(name);
    return (name.isEmpty() ? QString::fromLatin1(DefaultName) : name) + ".fir";
}

void FilterLimiterEWS::makeUniqueName()
{
    if (!m_manager)
        return;
    const QString current = GetName();
    if (!m_manager->IsInList(current))
        return;
    static const QRegularExpression trailing("^(.*?)(\\d{1,6})$");
    const QRegularExpressionMatch m = trailing.match(current);
    QString base = m.hasMatch() ? m.captured(1) : current + " ";
    qint64 n = m.hasMatch() ? m.captured(2).toLongLong() + 1 : 1;
    for (int attempt = 0; attempt < 100000; ++attempt, ++n) {
        const QString number = QString::number(n);
        const QString candidate = base.left(NameSize - number.size()) + number;
        if (!m_manager->IsInList(candidate)) {
            SetName(candidate);
            return;
        }
    }
    throw std::logic_error("FilterLimiterEWS::makeUniqueName(): no free name found for " + current.toStdString());
}

void FilterLimiterEWS::multipathLabel(int mode, int number)
{
    static const char* const labels[] = {"", "(MH) ", "(LM) ", "(LMH)", "(2MH) "};
    setMultipathMode(mode);   // refuses modes outside 0-4
    for (int o = 0; o < Outputs; ++o)
        setPathFlagByte(o, 1);
    SetName(QString("Thru ") + labels[mode] + QString::number(number));
}

quint16 FilterLimiterEWS::outputEntryWord0(int output) const
{
    return entryLatency(output);
}

quint16 FilterLimiterEWS::maxOutputEntryWord0() const
{
    // Every output counts: the master delay shares the delay memory with the longest FIR
    // latency of the set, whichever output carries it.
    return std::max({quint16(0), entryLatency(0), entryLatency(1), entryLatency(2), entryLatency(3)});
}

QString FilterLimiterEWS::getInfoHtml(const QStringList& setups)
{
    QString html = "<qt><b>FIR filter information for " + GetName().toHtmlEscaped() + "</b><br>";
    const double rate = sampleRate();
    html += rate > 0.0 ? QString("Sample rate: %1 Hz<br>").arg(rate) : QString("Sample rate: not set<br>");
    html += QString("Multipath mode: %1<br>").arg(multipathText(multipathMode()));
    html += dspProgramId() ? QString("DSP program: 0x%1<br>").arg(dspProgramId(), 4, 16, QChar('0'))
                           : QString("DSP program: not yet determined<br>");
    for (int o = 0; o < Outputs; ++o) {
        if (!entryIsFir(o)) {
            html += QString("Output %1: default crossover<br>").arg(o + 1);
            continue;
        }
        html += QString("Output %1: %2 coefficients, latency %3 samples").arg(o + 1).arg(entryCoefficientCount(o)).arg(entryLatency(o));
        if (rate > 0.0)
            html += QString(" (%1 ms)").arg(entryLatency(o) * 1000.0 / rate, 0, 'f', 2);
        html += "<br>";
    }
    html += QString("Id: 0x%1<br>").arg(m_key, 8, 16, QChar('0'));
    if (setups.isEmpty()) {
        html += "Used by no setup";
    } else {
        html += "Used by the setups:";
        for (const QString& s : setups)
            html += "<br>&nbsp;&nbsp;" + s.toHtmlEscaped();
    }
    html += "</qt>";
    m_infoHtml = html;
    return m_infoHtml;
}

bool FilterLimiterEWS::limiterFlagsSet() const
{
    const qint8 mode = multipathMode();
    return mode == 1 || (mode == 0 && ownPathCount() >= 2);
}

bool FilterLimiterEWS::isOwnLimiterPath(int output) const
{
    return entryLimiterPath(output) == output;
}

quint8 FilterLimiterEWS::pathFlag(int output) const
{
    return pathFlagByte(output);
}

void FilterLimiterEWS::toFile(const QString& folder, bool withKey) const
{
    const QString name = makeFileName(withKey);
    QString why;
    if (!ZunFirFile::writeZip(folder + "/" + name, name, toByteArray(), &why))
        throw std::logic_error(
            QString("FilterLimiterEWS::toFile(): error writing to FIR file %1: %2").arg(name, why).toStdString());
}

void FilterLimiterEWS::toFile(const QString& path) const
{
    if (!ZunFirFile::writeZip(path, makeFileName(false), toByteArray()))
        throw std::logic_error("FilterLimiterEWS::toFile(): error writing to FIR file! Contact support.");
}

void FilterLimiterEWS::exportXml(const QString& path) const
{
    if (!ZunFirFile::writeXml(path, toByteArray()))
        throw std::logic_error(("FilterLimiterEWS::exportXml(): error writing to XML file '" + path + "'.").toStdString());
}
