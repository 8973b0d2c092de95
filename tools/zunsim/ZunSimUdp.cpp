#include "ZunSimUdp.h"

#include "CCmdMap.h"
#include "CZunHardwareInfo.h"
#include "CZunImageDefaults.h"
#include "ZunSimDevice.h"
#include "ZunUdpDatagram.h"

#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

#include <cmath>
#include <memory>

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

// The status record layout: word indexes from the command tables where they define the
// Stat_ names, else the layout of the firmware family (1075-1076: DSP blocks from word 3,
// 1077-1080: a mute word at 3 and DSP blocks from word 4, 25 words per DSP).
class StatusLayout
{
public:
    explicit StatusLayout(quint16 firmware)
        : m_large(firmware == 0 || firmware >= 1077)
    {
        if (CCmdMap::hasVersion(firmware)) {
            m_map.setVersion(firmware);
            m_useMap = true;
        }
    }

    int size() const { return lookup("Inf_DSP_StatSize", m_large ? 108 : 106); }
    int status() const { return lookup("Stat_Status", 1); }
    int status2() const { return lookup("Stat_Status2", 2); }
    int mute() const { return m_large ? lookup("Stat_Mute", 3) : -1; }
    // Offset within a DSP block: LevelIn 0-3, LevelOut 4-7, GainRed 8-11, Temp 12-15,
    // LimStat 16, MpMode 17, Imp0/1 18-19, AmpOut0/1 20-21, SR 22, CycMain 23, CycFIR 24.
    // chan < 0 for the fields without a channel number.
    int dsp(int d, const char* field, int chan, int offset) const
    {
        const int base = (m_large ? 4 : 3) + 25 * d;
        const QString name = QStringLiteral("Stat_%1_%2").arg(d).arg(QLatin1String(field))
            + (chan >= 0 ? QString::number(chan) : QString());
        return lookup(name, base + offset + qMax(chan, 0));
    }
    int idle() const { return lookup("Msg_StatusIdle", 0xFF70); }
    int severalChanged() const { return lookup("Msg_CmdChangeN", 0xFF71); }
    int number(const char* name, int fallback) const { return lookup(name, fallback); }
    int number(const QString& name, int fallback) const { return lookup(name, fallback); }

private:
    int lookup(const char* name, int fallback) const { return lookup(QLatin1String(name), fallback); }
    int lookup(const QString& name, int fallback) const
    {
        if (m_useMap && m_map.contains(name))
            return m_map.getCmdNr(name);
        return fallback;
    }

    bool m_large;
    bool m_useMap = false;
    CCmdMap m_map;
};

// One layout per firmware version, made once (the status stream asks every 20 ms).
const StatusLayout& layoutFor(quint16 firmware)
{
    static QHash<quint16, std::shared_ptr<StatusLayout>> cache;
    auto& l = cache[firmware];
    if (!l)
        l = std::make_shared<StatusLayout>(firmware);
    return *l;
}

void putWord(QByteArray& rec, int index, quint16 w)
{
    if (index < 0 || 2 * index + 1 >= rec.size())
        return;
    rec[2 * index] = char(w & 0xFF);
    rec[2 * index + 1] = char(w >> 8);
}

} // namespace

ZunSimUdp::ZunSimUdp(ZunSimDevice* device, quint16 port, QObject* parent)
    : QObject(parent), m_device(device), m_port(port)
{
}

bool ZunSimUdp::start(const QHostAddress& bindAddress)
{
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(bindAddress, m_port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        err() << "zunsim: cannot bind UDP port " << m_port << ": " << m_socket->errorString() << Qt::endl;
        return false;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &ZunSimUdp::on_Readable);
    // The address the announce names: the bound one, else the first address of a real
    // interface (the processor's own address).
    if (bindAddress != QHostAddress::AnyIPv4 && bindAddress != QHostAddress::Any) {
        m_ownAddress = bindAddress;
    } else {
        for (const QHostAddress& a : QNetworkInterface::allAddresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
                m_ownAddress = a;
                break;
            }
    }
    return true;
}

QByteArray ZunSimUdp::announce() const
{
    QMutexLocker lock(&m_device->mutex());
    const ZunSimDevice::Identity& id = m_device->identity();
    ZunUdpDatagram::Announce a;
    a.mac = CMacAddr::fromSerial(id.serial);
    a.routingByte = id.routingByte;
    a.versionWord = id.announceFirmwareZero ? 0 : m_device->versionWord();
    a.routingWord = id.routingWord;
    a.hardwareWord = id.hardwareWord;
    a.name = id.name;
    a.ip = CIpAddr(m_ownAddress);
    a.status = id.status;
    a.flags = id.flags;
    a.linkState = 0;
    return ZunUdpDatagram::encodeAnnounce(a);
}

QByteArray ZunSimUdp::nextStatusRecord()
{
    QMutexLocker lock(&m_device->mutex());
    const ZunSimDevice::Identity& id = m_device->identity();
    const StatusLayout& L = layoutFor(id.firmware);
    QByteArray rec(L.size(), '\0');
    const int phase = m_phase++;

    int status = L.idle();
    if (m_pendingStatus >= 0) {
        status = m_pendingStatus;
        m_pendingStatus = -1;
    }
    putWord(rec, L.status(), quint16(status));
    const QVector<quint16>& image = m_device->image();
    const bool masterMuted = ZunUdpDatagram::CmdMasterMute < image.size() && image[ZunUdpDatagram::CmdMasterMute] != 0;
    putWord(rec, L.status2(), quint16((id.flags & 0x0001) | (masterMuted ? 0x0004 : 0)));
    // The mute word: input paths A-H in bits 0-7, outputs 0-7 in bits 8-15.
    auto imageWord = [&](const QString& name) {
        const int nr = L.number(name, -1);
        return nr >= 0 && nr < image.size() ? image[nr] : quint16(0);
    };
    // Each DSP's master mute mutes its own four outputs; a one-board processor has DSP 1
    // only, whose master mute then stands for every output.
    const bool doubleBoard = CZunHardwareInfo(id.hardwareWord).isDoubleBoard();
    const bool dspMasterMuted[2] = {masterMuted, doubleBoard ? imageWord(QStringLiteral("Cmd_1_MasterMute")) != 0 : masterMuted};
    quint16 muteWord = 0;
    bool outputMuted[8];
    double outputGainDb[8];
    for (int i = 0; i < 8; ++i) {
        if (imageWord(QStringLiteral("Cmd_%1_InMute%2").arg(i / 4).arg(QChar('A' + i))))
            muteWord |= quint16(1u << i);
        outputMuted[i] = imageWord(QStringLiteral("Cmd_%1_ChMute%2").arg(i / 4).arg(i % 4)) != 0 || dspMasterMuted[i / 4];
        if (outputMuted[i])
            muteWord |= quint16(1u << (8 + i));
        outputGainDb[i] = 0.1 * qint16(imageWord(QStringLiteral("Cmd_%1_ChGain%2").arg(i / 4).arg(i % 4)));
    }
    putWord(rec, L.mute(), muteWord);
    // The measured sample rate follows the clock selection (an external clock is measured
    // a little below 48 kHz); the cycles in use follow the program each DSP runs: the
    // basic program needs fewer than any other, and no program more than the DSP has.
    const int clockWord = L.number("Cmd_ClockSel", 12);
    const int clock = clockWord < image.size() ? image[clockWord] : 0;
    int rate = 47996;
    if (clock == L.number("Inf_Sel_Clk_48", 1))
        rate = 48000;
    else if (clock == L.number("Inf_Sel_Clk_96", 2))
        rate = 96000;
    else if (clock == L.number("Inf_Sel_Clk_192", 3))
        rate = 192000;
    const int available = 160000000 / rate;
    int cycles[2];
    for (int d = 0; d < 2; ++d) {
        const int word = L.number(d == 0 ? "Cmd_0_DSP_ID" : "Cmd_1_DSP_ID", d == 0 ? 103 : 873);
        const int program = word < image.size() ? image[word] : 0;
        cycles[d] = qMin(program == L.number("Inf_DSP0000_307_0", 0) ? 600 : 1100, available * 9 / 10);
    }
    for (int d = 0; d < 2; ++d) {
        quint16 limStat = 0;
        for (int c = 0; c < 4; ++c) {
            // Levels swing between about -30 dB and 0 dB, each channel at its own phase.
            const double x = 0.5 + 0.5 * std::sin(0.2 * phase + c + 4 * d);
            const quint16 level = quint16(2000 + x * 63000);
            putWord(rec, L.dsp(d, "LevelIn", c, 0), level);
            // An output follows its input through its gain; driven above full scale its
            // limiter holds it at full scale and reports the reduction and its peak bit.
            const int o = 4 * d + c;
            const double outDb = 20.0 * std::log10(level * 0.9 / 65535.0) + outputGainDb[o];
            quint16 outLevel = 0;
            quint16 reduction = 32512;
            if (!outputMuted[o]) {
                if (outDb > 0.0) {
                    outLevel = 65535;
                    reduction = quint16(32512.0 * std::pow(10.0, -outDb / 20.0));
                    limStat |= quint16(1u << c);
                } else {
                    outLevel = quint16(65535.0 * std::pow(10.0, outDb / 20.0));
                }
            }
            putWord(rec, L.dsp(d, "LevelOut", c, 4), outLevel);
            putWord(rec, L.dsp(d, "GainRed", c, 8), reduction);
            // Coils warm up while their limiter works; the word stays within the 0 to 100 the
            // coil meters show (above it they stood at full all the time).
            putWord(rec, L.dsp(d, "Temp", c, 12), quint16(30 + (phase + c) % 20 + (reduction < 32512 ? 40 : 0)));
        }
        putWord(rec, L.dsp(d, "LimStat", -1, 16), limStat);
        putWord(rec, L.dsp(d, "SR", -1, 22), quint16(rate / 4));
        putWord(rec, L.dsp(d, "CycMain", -1, 23), quint16(cycles[d] << 2));
    }
    return rec;
}

void ZunSimUdp::on_ParameterChanged(quint16 cmd, quint16)
{
    notePending(cmd);
}

void ZunSimUdp::notePending(quint16 cmd)
{
    // One parameter changed since the last record is reported by its number; several (two
    // UDP commands back to back) as "several changed", so the whole image is read again.
    if (m_pendingStatus >= 0 && m_pendingStatus != cmd)
        m_pendingStatus = layoutFor(m_device->identity().firmware).severalChanged();
    else
        m_pendingStatus = cmd;
}

void ZunSimUdp::on_Readable()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket->receiveDatagram();
        if (d.isValid())
            handle(d.data(), d.senderAddress(), quint16(d.senderPort()));
    }
}

void ZunSimUdp::handle(const QByteArray& d, const QHostAddress& from, quint16 fromPort)
{
    bool silent, noBroadcast;
    {
        QMutexLocker lock(&m_device->mutex());
        silent = m_device->faults().silent;
        noBroadcast = m_device->faults().noBroadcastAnswer;
    }
    if (silent)
        return;
    quint16 a = 0, b = 0;
    if (ZunUdpDatagram::isPing(d)) {
        if (!noBroadcast)
            m_socket->writeDatagram(announce(), from, fromPort);
        return;
    }
    if (ZunUdpDatagram::decodeStatusRequest(d, &a, &b)) {
        {
            QMutexLocker lock(&m_device->mutex());
            ++m_device->statusRequests();
        }
        startStream(from, fromPort, a, b);
        return;
    }
    if (ZunUdpDatagram::decodeCommand(d, &a, &b)) {
        QMutexLocker lock(&m_device->mutex());
        const quint16 fw = m_device->identity().firmware ? m_device->identity().firmware : 1080;
        int min = 0, max = 0;
        if (a >= m_device->image().size()) {
            err() << "zunsim: UDP command " << a << " unknown" << Qt::endl;
            return;
        }
        if (CZunImageDefaults::rawRange(fw, a, &min, &max)) {
            const int v = min < 0 ? int(qint16(b)) : int(b);
            if (v < min || v > max) {
                err() << "zunsim: UDP command " << a << " value " << b << " out of range" << Qt::endl;
                return;
            }
        }
        m_device->image()[a] = b;
        notePending(a);
        return;
    }
    err() << "zunsim: dropped UDP datagram of " << d.size() << " bytes" << Qt::endl;
}

void ZunSimUdp::startStream(const QHostAddress& to, quint16 port, quint16 intervalMs, quint16 count)
{
    const QString key = to.toString() + QLatin1Char(':') + QString::number(port);
    Stream& s = m_streams[key];
    if (!s.timer) {
        s.timer = new QTimer(this);
        s.timer->setTimerType(Qt::PreciseTimer);
        connect(s.timer, &QTimer::timeout, this, [this, key] { streamTick(key); });
    }
    s.to = to;
    s.port = port;
    s.remaining = count;
    if (intervalMs == 0 || count == 0) {
        s.timer->stop();
        return;
    }
    s.timer->start(intervalMs);
    streamTick(key); // the first datagram at once
}

void ZunSimUdp::streamTick(const QString& key)
{
    auto it = m_streams.find(key);
    if (it == m_streams.end())
        return;
    if (it->remaining <= 0) {
        it->timer->stop();
        return;
    }
    --it->remaining;
    bool silent;
    {
        QMutexLocker lock(&m_device->mutex());
        silent = m_device->faults().silent;
    }
    if (!silent)
        m_socket->writeDatagram(ZunUdpDatagram::statusDatagram(nextStatusRecord()), it->to, it->port);
    if (it->remaining <= 0)
        it->timer->stop();
}

quint16 ZunSimUdp::boundPort() const
{
    return m_socket ? m_socket->localPort() : m_port;
}
