#include "AudioIOStatus.h"

#include "CCmdMap.h"
#include "CRoutingManager.h"
#include "CZun.h"

#include <QDebug>
#include <QVarLengthArray>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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
    m_record = QByteArray(int(recordSize), '\0');
    std::copy(levelIn, levelIn + 8, m_levelIn);
    std::copy(levelOut, levelOut + 8, m_levelOut);
    std::copy(gainRed, gainRed + 8, m_gainRed);
    std::copy(temp, temp + 8, m_temp);
    std::copy(limStat, limStat + 12, m_limStat);
    std::copy(mpMode, mpMode + 2, m_mpMode);
    std::copy(imp0, imp0 + 2, m_imp0);
    std::copy(imp1, imp1 + 2, m_imp1);
    std::copy(ampOut0, ampOut0 + 2, m_ampOut0);
    std::copy(ampOut1, ampOut1 + 2, m_ampOut1);
    std::copy(cycFull, cycFull + 2, m_cycFull);
    std::copy(cycMain, cycMain + 2, m_cycMain);
    std::copy(cycFIR, cycFIR + 2, m_cycFIR);
    std::copy(sr, sr + 2, m_sr);
    m_status = status;
    m_status2 = status2;
    m_mute = mute;
    m_statusIdle = statusIdle;
    m_cmdChangeN = cmdChangeN;
    m_header = header;
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
    // Exactly one record, so every getter reads inside it whatever the datagram's length.
    // Copied into the record's own buffer: no allocation a datagram (unless a reader
    // still shares the record).
    const int size = int(m_recordSize);
    QVarLengthArray<uchar, 256> before;
    if (holdEvents && m_record.size() == size)
        before.append(reinterpret_cast<const uchar*>(m_record.constData()), size);
    if (m_record.size() != size)
        m_record.resize(size);
    memcpy(m_record.data(), datagram + HeaderBytes, size_t(size));
    if (!before.isEmpty())
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
    return true;
}

void AudioIOStatus::holdEvents(const uchar* held)
{
    auto* now = reinterpret_cast<uchar*>(m_record.data());
    auto merge = [&](quint16 index, quint16 (*pick)(quint16, quint16)) {
        const int offset = 2 * int(index);
        if (offset + 2 > m_record.size())
            return;
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

quint16 AudioIOStatus::word(quint16 index) const
{
    const int offset = 2 * int(index);
    if (offset + 2 > m_record.size())
        return 0;
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(m_record.constData() + offset));
}

double AudioIOStatus::levelDb(quint16 raw)
{
    const auto exact = [](quint16 r) {
        const double x = r != 0 ? 20.0 * std::log10(r / 65535.0) : -99.99;
        return std::floor(x + 0.5);
    };
    // The status monitor reads up to 16 levels of every processor at each refresh; a
    // logarithm each cost more than the rest of the refresh. The whole dB of a word is
    // found among the smallest word of each whole dB instead, taken once from the formula
    // itself (which rises with the word), so both give the same for every word.
    struct Steps
    {
        double silence = 0; // the word 0
        double first = 0;   // the word 1
        std::vector<quint16> lowest;
    };
    static const Steps steps = [&exact] {
        Steps t;
        t.silence = exact(0);
        t.first = exact(1);
        for (double db = t.first; db <= exact(65535); ++db) {
            int low = 1, high = 65535;
            while (low < high) {
                const int mid = (low + high) / 2;
                if (exact(quint16(mid)) >= db)
                    high = mid;
                else
                    low = mid + 1;
            }
            t.lowest.push_back(quint16(low));
        }
        return t;
    }();
    if (raw == 0)
        return steps.silence;
    const auto above = std::upper_bound(steps.lowest.cbegin(), steps.lowest.cend(), raw);
    return steps.first + double(above - steps.lowest.cbegin() - 1);
}

quint16 AudioIOStatus::inputLevelWord(int source, bool* placed) const
{
    const int slot = m_routing.FindSlotOfSource(source);
    *placed = slot >= 0 && slot < 8;
    return *placed ? word(m_levelIn[slot]) : 0;
}

double AudioIOStatus::GetOutputLevel(int output) const
{
    if (output < 0 || output >= 8)
        return levelDb(0);
    return levelDb(word(m_levelOut[output]));
}

double AudioIOStatus::GetInputLevel(int source) const
{
    bool placed = false;
    const quint16 raw = inputLevelWord(source, &placed);
    return placed ? levelDb(raw) : NoInputLevel;
}

bool AudioIOStatus::IsOverload(int source) const
{
    bool placed = false;
    const quint16 raw = inputLevelWord(source, &placed);
    return placed && raw >= 65530;
}

double AudioIOStatus::GetGainReduction(int output) const
{
    const quint16 raw = (output >= 0 && output < 8) ? word(m_gainRed[output]) : 32512;
    const double x = raw != 0 ? 20.0 * std::log10(raw / 32512.0) : -99.99;
    return -std::floor(x + 0.5);
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
    if (m_mute == 0 || output < 0 || output >= 8)
        return false;
    return (word(m_mute) >> (8 + output)) & 1;
}

bool AudioIOStatus::IsInputMuted(int source) const
{
    if (m_mute == 0)
        return false;
    const int path = m_routing.GetKeypadInfoOfSource(source);
    if (path < 0 || path >= 8)
        return false;
    return (word(m_mute) >> path) & 1;
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
