#include "AudioIOStatus.h"

#include "CCmdMap.h"
#include "CRoutingManager.h"
#include "CZun.h"

#include <QDebug>
#include <QMetaMethod>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const quint8 PeakBits[12] = {0, 1, 2, 3, 0, 1, 2, 3, 8, 9, 8, 9};
const quint8 ThermalBits[12] = {4, 5, 6, 7, 4, 5, 6, 7, 10, 11, 10, 11};
const int HeaderBytes = 4;

QString statName(int dsp, const char* field, int i)
{
    return QStringLiteral("Stat_%1_%2%3").arg(dsp).arg(QLatin1String(field)).arg(i);
}

QString statName(int dsp, const char* field)
{
    return QStringLiteral("Stat_%1_%2").arg(dsp).arg(QLatin1String(field));
}

// The two conversions of a status word to whole dB, each written once: a level (65535 is
// 0 dB, 0 gives -100) and a gain-reduction word before its sign is turned (32512 is 0 dB,
// 0 gives -100).
double levelFormula(quint16 raw)
{
    const double x = raw != 0 ? 20.0 * std::log10(raw / 65535.0) : -99.99;
    return std::floor(x + 0.5);
}

double reductionFormula(quint16 raw)
{
    const double x = raw != 0 ? 20.0 * std::log10(raw / 32512.0) : -99.99;
    return std::floor(x + 0.5);
}

// A conversion read without a logarithm: the tiles of a hundred processors read up to 24
// dB values each at every refresh. The formula never falls as the word rises, so the dB of
// a word is the dB of the word 0 plus the number of whole-dB steps whose smallest word is
// at or below it; those smallest words are taken once from the formula itself, so both
// give the same for every word.
class WholeDb
{
public:
    explicit WholeDb(double (*formula)(quint16)) : m_zero(formula(0))
    {
        int steps = 0;
        // The last place stays above every word.
        for (double db = m_zero + 1; db <= formula(65535) && steps < Steps - 1; ++db) {
            quint32 low = 0, high = 65535;
            while (low < high) {
                const quint32 mid = (low + high) / 2;
                if (formula(quint16(mid)) >= db)
                    high = mid;
                else
                    low = mid + 1;
            }
            m_lowest[steps++] = low;
        }
        std::fill(m_lowest + steps, m_lowest + Steps, 65536u);
    }

    // Counted without branches, in seven halvings of the table.
    double operator()(quint16 raw) const
    {
        static_assert(Steps == 128, "one halving a bit of the step count");
        int below = 0;
        below += m_lowest[below + 63] <= raw ? 64 : 0;
        below += m_lowest[below + 31] <= raw ? 32 : 0;
        below += m_lowest[below + 15] <= raw ? 16 : 0;
        below += m_lowest[below + 7] <= raw ? 8 : 0;
        below += m_lowest[below + 3] <= raw ? 4 : 0;
        below += m_lowest[below + 1] <= raw ? 2 : 0;
        below += m_lowest[below] <= raw ? 1 : 0;
        return m_zero + below;
    }

private:
    static constexpr int Steps = 128; // room for the steps of both conversions
    double m_zero;
    quint32 m_lowest[Steps];
};

const WholeDb LevelDb(levelFormula);
const WholeDb ReductionDb(reductionFormula);

} // namespace

AudioIOStatus::AudioIOStatus(QSharedPointer<CCmdMap> map, QObject* parent) : QObject(parent)
{
    initConstants(map);
}

AudioIOStatus::~AudioIOStatus() = default;

void AudioIOStatus::initConstants(QSharedPointer<CCmdMap> map)
{
    const CCmdMap& m = *map;
    const quint32 recordSize = m.getCmdNr("Inf_DSP_StatSize");

    // Looked up into locals first, so a missing name leaves the record usable as before.
    quint16 levelIn[8], levelOut[8], gainRed[8], temp[8], limStat[12];
    for (int i = 0; i < 8; ++i) {
        const int dsp = i / 4;
        levelOut[i] = m.getCmdNr(statName(dsp, "LevelOut", i % 4));
    }
    for (int i = 0; i < 8; ++i)
        gainRed[i] = m.getCmdNr(statName(i / 4, "GainRed", i % 4));
    for (int i = 0; i < 8; ++i)
        temp[i] = m.getCmdNr(statName(i / 4, "Temp", i % 4));
    const quint16 lim0 = m.getCmdNr("Stat_0_LimStat");
    const quint16 lim1 = m.getCmdNr("Stat_1_LimStat");
    for (int n = 0; n < 12; ++n)
        limStat[n] = (n < 4 || n == 8 || n == 9) ? lim0 : lim1;
    // The input levels follow the firmware's layout too (one word lower before 1077).
    for (int i = 0; i < 8; ++i)
        levelIn[i] = m.getCmdNr(statName(i / 4, "LevelIn", i % 4));

    quint16 mpMode[2], imp0[2], imp1[2], ampOut0[2], ampOut1[2], cycFull[2], cycMain[2], cycFIR[2], sr[2];
    for (int d = 0; d < 2; ++d) {
        mpMode[d] = m.getCmdNr(statName(d, "MpMode"));
        imp0[d] = m.getCmdNr(statName(d, "Imp0"));
        imp1[d] = m.getCmdNr(statName(d, "Imp1"));
        ampOut0[d] = m.getCmdNr(statName(d, "AmpOut0"));
        ampOut1[d] = m.getCmdNr(statName(d, "AmpOut1"));
    }
    const quint16 status = m.getCmdNr("Stat_Status");
    const quint16 status2 = m.getCmdNr("Stat_Status2");
    const quint16 mute = m.contains(QStringLiteral("Stat_Mute")) ? m.getCmdNr("Stat_Mute") : 0;
    const quint16 statusIdle = m.getCmdNr("Msg_StatusIdle");
    const quint16 cmdChangeN = m.getCmdNr("Msg_CmdChangeN");
    for (int d = 0; d < 2; ++d) {
        cycFull[d] = m.getCmdNr(statName(d, "CycFull"));
        cycMain[d] = m.getCmdNr(statName(d, "CycMain"));
        cycFIR[d] = m.getCmdNr(statName(d, "CycFIR"));
    }
    for (int d = 0; d < 2; ++d)
        sr[d] = m.getCmdNr(statName(d, "SR"));
    const quint16 header = m.getCmdNr("ID_TX_Block");

    m_map = map;
    m_layoutVersion = m.version();
    m_recordSize = recordSize;
    // The record's words, then the zero word that every index outside them reads.
    m_zeroWord = quint16((recordSize + 1) / 2);
    m_words.resize(2 * m_zeroWord + 2);
    std::fill(m_words.begin(), m_words.end(), uchar(0));
    const auto inRecord = [this](const quint16* from, int n, quint16* to) {
        for (int i = 0; i < n; ++i)
            to[i] = 2 * quint32(from[i]) + 2 <= m_recordSize ? from[i] : m_zeroWord;
    };
    inRecord(levelIn, 8, m_levelIn);
    inRecord(levelOut, 8, m_levelOut);
    inRecord(gainRed, 8, m_gainRed);
    inRecord(temp, 8, m_temp);
    inRecord(limStat, 12, m_limStat);
    inRecord(mpMode, 2, m_mpMode);
    inRecord(imp0, 2, m_imp0);
    inRecord(imp1, 2, m_imp1);
    inRecord(ampOut0, 2, m_ampOut0);
    inRecord(ampOut1, 2, m_ampOut1);
    inRecord(cycFull, 2, m_cycFull);
    inRecord(cycMain, 2, m_cycMain);
    inRecord(cycFIR, 2, m_cycFIR);
    inRecord(sr, 2, m_sr);
    inRecord(&status, 1, &m_status);
    inRecord(&status2, 1, &m_status2);
    if (mute != 0)
        inRecord(&mute, 1, &m_mute);
    else
        m_mute = m_zeroWord;
    m_statusIdle = statusIdle;
    m_cmdChangeN = cmdChangeN;
    m_header = header;
}

QByteArray AudioIOStatus::GetRecord() const
{
    return QByteArray(reinterpret_cast<const char*>(m_words.constData()), int(m_recordSize));
}

bool AudioIOStatus::refresh(const char* datagram, int length, bool holdEvents, bool notify)
{
    const int needed = HeaderBytes + int(m_recordSize);
    const quint16 first = length >= 2 ? qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(datagram)) : 0;
    if (length < needed || first != m_header) {
        qDebug().noquote() << QStringLiteral("AudioIOStatus: status datagram dropped (%1 bytes, first word 0x%2; "
                                             "expected %3 bytes beginning with 0x%4)")
                                  .arg(length)
                                  .arg(first, 4, 16, QLatin1Char('0'))
                                  .arg(needed)
                                  .arg(m_header, 4, 16, QLatin1Char('0'));
        return false;
    }
    // Exactly one record, whatever the datagram's length; the zero word after it stays.
    QVarLengthArray<uchar, 128> before;
    if (holdEvents)
        before.append(m_words.constData(), m_words.size());
    memcpy(m_words.data(), datagram + HeaderBytes, m_recordSize);
    if (holdEvents)
        this->holdEvents(before.constData());

    if (notify)
        emit refreshed();

    const quint16 s = word(m_status);
    if (s == m_statusIdle) {
        // nothing changed at the processor
    } else if (s == m_cmdChangeN) {
        emit signal_ZunOutOfSync();
    } else if (s < ImageWords) {
        emit ZunFrontPanelChanged(s);
    }

    const int cycles0 = word(m_cycMain[0]) >> 2;
    const int cycles1 = word(m_cycMain[1]) >> 2;
    const int rate0 = word(m_sr[0]) * 4;
    const int rate1 = word(m_sr[1]) * 4;
    if (cycles0 != m_cycles[0] || cycles1 != m_cycles[1] || rate0 != m_cycles[2] || rate1 != m_cycles[3]) {
        m_cycles[0] = cycles0;
        m_cycles[1] = cycles1;
        m_cycles[2] = rate0;
        m_cycles[3] = rate1;
        emit signal_CyclesSamplingRateChanged(rate0, rate1, cycles0, cycles1);
    }
    return true;
}

void AudioIOStatus::connectNotify(const QMetaMethod& signal)
{
    if (signal == QMetaMethod::fromSignal(&AudioIOStatus::refreshed))
        ++m_refreshReaders;
}

void AudioIOStatus::disconnectNotify(const QMetaMethod& signal)
{
    // Qt tells each connection's end (a receiver destroyed too), except that a disconnection
    // from every signal at once comes as one invalid method: the count is then whether any
    // is left, or stays as it was (too many at worst: told for nothing).
    const QMetaMethod refreshedSignal = QMetaMethod::fromSignal(&AudioIOStatus::refreshed);
    if (signal == refreshedSignal)
        --m_refreshReaders;
    else if (!signal.isValid() && !isSignalConnected(refreshedSignal))
        m_refreshReaders = 0;
}

bool AudioIOStatus::SetRouting(quint16 routingWord)
{
    try {
        m_routing = CZunRoutingRecord(m_map, routingWord);
    } catch (const CCmdMap::invalid_cmd& e) {
        qDebug().noquote() << QStringLiteral("AudioIOStatus: routing word 0x%1 not taken: %2")
                                  .arg(routingWord, 4, 16, QLatin1Char('0'))
                                  .arg(QString::fromStdString(e.text()));
        return false;
    }
    for (int source = 0; source < PlacedSources; ++source)
        m_inputs[source] = placeInput(source);
    return true;
}

AudioIOStatus::InputPlace AudioIOStatus::placeInput(int source) const
{
    InputPlace place;
    const int slot = m_routing.FindSlotOfSource(source);
    if (slot >= 0 && slot < 8)
        place.slot = quint8(slot);
    const int path = m_routing.GetKeypadInfoOfSource(source);
    if (path >= 0 && path < 8)
        place.path = quint8(path);
    return place;
}

void AudioIOStatus::holdEvents(const uchar* held)
{
    // Every index lies in the record or on the zero word, which stays zero either way.
    uchar* now = m_words.data();
    const auto merge = [&](quint16 index, auto pick) {
        const int offset = 2 * int(index);
        qToLittleEndian<quint16>(pick(qFromLittleEndian<quint16>(now + offset), qFromLittleEndian<quint16>(held + offset)),
                                 now + offset);
    };
    const auto louder = [](quint16 a, quint16 b) { return qMax(a, b); };
    // A smaller gain-reduction word is the deeper reduction.
    const auto deeper = [](quint16 a, quint16 b) { return qMin(a, b); };
    const auto either = [](quint16 a, quint16 b) { return quint16(a | b); };
    for (int i = 0; i < 8; ++i) {
        merge(m_levelIn[i], louder);
        merge(m_levelOut[i], louder);
        merge(m_gainRed[i], deeper);
        merge(m_temp[i], louder);
    }
    // Outputs 0-3 share the first limiter word, 4-7 the second.
    merge(m_limStat[0], either);
    merge(m_limStat[4], either);
}

double AudioIOStatus::GetOutputLevel(int output) const
{
    return LevelDb(output >= 0 && output < 8 ? word(m_levelOut[output]) : 0);
}

double AudioIOStatus::GetInputLevel(int source) const
{
    const int slot = inputPlace(source).slot;
    return slot < 8 ? LevelDb(word(m_levelIn[slot])) : NoInputLevel;
}

bool AudioIOStatus::IsOverload(int source) const
{
    const int slot = inputPlace(source).slot;
    return slot < 8 && word(m_levelIn[slot]) >= 65530;
}

double AudioIOStatus::GetGainReduction(int output) const
{
    return -ReductionDb(output >= 0 && output < 8 ? word(m_gainRed[output]) : 32512);
}

double AudioIOStatus::GetTemperature(int output) const
{
    return (output >= 0 && output < 8) ? word(m_temp[output]) : 0.0;
}

bool AudioIOStatus::IsPeakLimiting(int n) const
{
    return n >= 0 && n < 12 && ((word(m_limStat[n]) >> PeakBits[n]) & 1);
}

bool AudioIOStatus::IsThermalLimiting(int n) const
{
    return n >= 0 && n < 12 && ((word(m_limStat[n]) >> ThermalBits[n]) & 1);
}

bool AudioIOStatus::IsOutputMuted(int output) const
{
    return output >= 0 && output < 8 && ((word(m_mute) >> (8 + output)) & 1);
}

bool AudioIOStatus::IsInputMuted(int source) const
{
    const int path = inputPlace(source).path;
    return path < 8 && ((word(m_mute) >> path) & 1);
}

bool AudioIOStatus::IsMasterMuted() const
{
    return (word(m_status2) >> 2) & 1;
}

bool AudioIOStatus::IsDigitalLocked() const
{
    return word(m_status2) & 1;
}

bool AudioIOStatus::onDigitalLockChanged()
{
    const bool locked = IsDigitalLocked();
    if (locked != m_lastDigitalLock) {
        emit signal_toLogFile(QStringLiteral("Digital Lock changed to %1")
                                  .arg(locked ? QStringLiteral("locked") : QStringLiteral("unlocked")));
        m_lastDigitalLock = locked;
    }
    return locked;
}

void AudioIOStatus::attachDevice(CZun* zun)
{
    QObject::connect(this, &AudioIOStatus::ZunFrontPanelChanged, zun, &CZun::requestCmdStatus, Qt::QueuedConnection);
    QObject::connect(this, &AudioIOStatus::signal_ZunOutOfSync, zun, &CZun::RefreshStatusBuffer, Qt::QueuedConnection);
    QObject::connect(this, &AudioIOStatus::signal_toLogFile, zun, &CZun::printToLog, Qt::QueuedConnection);
    QObject::connect(this, &AudioIOStatus::signal_CyclesSamplingRateChanged, zun, &CZun::UpdateProcessingPower,
                     Qt::QueuedConnection);
    // The routing read from the processor places the input meters too: a processor found
    // only by the network scan announces no routing word.
    QObject::connect(zun, &CZun::signal_ZunStatusChanged, this, [this, zun] {
        const quint16 routing = zun->GetRoutingManager()->lastRoutingWord();
        if (zun->HasImage() && !zun->IsImageUnreadable() && routing != m_routing.getRoutingWord().word)
            SetRouting(routing);
    });
}
