#include "ZunDeviceStats.h"

#include "CIpAddr.h"

#include <QMutexLocker>

#define LOCKED QMutexLocker lock(&m_mutex)

namespace {
quint32 ipv4Of(const QHostAddress& ip)
{
    bool isV4 = false;
    const quint32 v4 = ip.toIPv4Address(&isV4);
    return isV4 ? v4 : 0;
}
} // namespace

CMacAddr ZunDeviceStats::mac() const { LOCKED; return m_mac; }
void ZunDeviceStats::setMac(const CMacAddr& mac) { LOCKED; m_mac = mac; }
quint16 ZunDeviceStats::serial() const { LOCKED; return m_mac.serial(); }

QHostAddress ZunDeviceStats::getIpAddress() const { LOCKED; return m_ip; }
void ZunDeviceStats::setIpAddress(const QHostAddress& ip)
{
    LOCKED;
    m_ip = ip;
    m_ipv4 = ipv4Of(ip);
}

QString ZunDeviceStats::getName() const
{
    LOCKED;
    const QString n = m_name.trimmed();
    return n.isEmpty() ? QStringLiteral("Zun Nr. %1").arg(m_mac.serial()) : n;
}

QString ZunDeviceStats::rawName() const { LOCKED; return m_name; }
void ZunDeviceStats::setName(const QString& name) { LOCKED; m_name = name; }

quint16 ZunDeviceStats::firmware() const { LOCKED; return m_firmware; }
void ZunDeviceStats::setFirmware(quint16 firmware) { LOCKED; m_firmware = firmware; }
quint16 ZunDeviceStats::revision() const { LOCKED; return m_revision; }
void ZunDeviceStats::setRevision(quint16 revision) { LOCKED; m_revision = revision; }

QString ZunDeviceStats::getFirmwareString() const
{
    LOCKED;
    return QStringLiteral("%1.%2").arg(m_firmware).arg(m_revision);
}

quint16 ZunDeviceStats::routingWord() const { LOCKED; return m_routingWord; }
quint8 ZunDeviceStats::routingByte() const { LOCKED; return m_routingByte; }
void ZunDeviceStats::setRouting(quint16 word, quint8 byte)
{
    LOCKED;
    m_routingWord = word;
    m_routingByte = byte;
}

CZunHardwareInfo ZunDeviceStats::getHardwareInfo() const { LOCKED; return m_hardware; }
void ZunDeviceStats::setHardwareInfo(const CZunHardwareInfo& info) { LOCKED; m_hardware = info; }

quint16 ZunDeviceStats::statusWord() const { LOCKED; return m_status; }
void ZunDeviceStats::setStatusWord(quint16 w) { LOCKED; m_status = w; }
quint16 ZunDeviceStats::flagsWord() const { LOCKED; return m_flags; }
void ZunDeviceStats::setFlagsWord(quint16 w) { LOCKED; m_flags = w; }
quint16 ZunDeviceStats::linkState() const { LOCKED; return m_linkState; }
bool ZunDeviceStats::isLinkConnected() const { LOCKED; return m_linkConnected; }
void ZunDeviceStats::setLinkConnected(bool connected) { LOCKED; m_linkConnected = connected; }
bool ZunDeviceStats::isWindowOpen() const { LOCKED; return m_windowOpen; }
void ZunDeviceStats::setWindowOpen(bool open) { LOCKED; m_windowOpen = open; }
void ZunDeviceStats::setLinkState(quint16 w) { LOCKED; m_linkState = w; }

bool ZunDeviceStats::isLive() const { LOCKED; return m_live; }
void ZunDeviceStats::setLive(bool live) { LOCKED; m_live = live; }
qint64 ZunDeviceStats::lastAnnounceMs() const { LOCKED; return m_lastAnnounce; }
void ZunDeviceStats::setLastAnnounceMs(qint64 ms) { LOCKED; m_lastAnnounce = ms; }
qint64 ZunDeviceStats::lastStatusMs() const { return m_lastStatus.load(std::memory_order_relaxed); }
void ZunDeviceStats::setLastStatusMs(qint64 ms) { m_lastStatus.store(ms, std::memory_order_relaxed); }

int ZunDeviceStats::nic() const { LOCKED; return m_nic; }
QString ZunDeviceStats::adapter() const { LOCKED; return m_adapter; }
QHostAddress ZunDeviceStats::adapterIp() const { LOCKED; return m_adapterIp; }
void ZunDeviceStats::setInterface(int nic, const QString& adapter, const QHostAddress& adapterIp)
{
    LOCKED;
    m_nic = nic;
    m_adapter = adapter;
    m_adapterIp = adapterIp;
}

QString ZunDeviceStats::statusText(quint16 w)
{
    if ((w >> 8) == 0xFF && w != StatusIdle && w != StatusCmdChange)
        return QStringLiteral("Err %1").arg(w & 0xFF, 2, 16, QLatin1Char(' '));
    return QStringLiteral("ok");
}

QString ZunDeviceStats::statusText() const
{
    return statusText(statusWord());
}

QString ZunDeviceStats::clockText() const
{
    const quint16 f = flagsWord();
    if (f & 0x0002)
        return QStringLiteral("analog");
    if (f & 0x0001)
        return QStringLiteral("locked");
    return QStringLiteral("not locked");
}

bool ZunDeviceStats::isFlag6Set() const
{
    return flagsWord() & 0x0040;
}

QString ZunDeviceStats::toolTip() const
{
    QString tip;
    {
        LOCKED;
        tip = QStringLiteral("<qt><b>Zun device nr %1</b><br><b>IP address:</b> %2<hr><b>Network information</b><br>"
                             " <b>NIC:</b> %3<br> <b>Adapter:</b> %4<br> <b>Adapter IP:</b> %5<hr></qt>")
                  .arg(m_mac.serial())
                  .arg(m_ip.toString())
                  .arg(m_nic)
                  .arg(m_adapter)
                  .arg(m_adapterIp.toString());
    }
    return tip + QStringLiteral("<hr><b>Status:</b> %1\n").arg(statusText());
}

bool ZunDeviceStats::applyAnnounce(const ZunUdpDatagram::Announce& a, const QHostAddress& from)
{
    LOCKED;
    // The sender's address is where the processor really answers; the announced field
    // only stands in when the sender is unknown.
    bool isV4 = false;
    const quint32 v4 = from.toIPv4Address(&isV4);
    const QHostAddress ip = isV4 ? QHostAddress(v4) : a.ip.toHostAddress();
    const CZunHardwareInfo hw(a.hardwareWord, m_hardware.hardwareWord() == a.hardwareWord ? m_hardware.extraWord() : 0);
    const bool changed = m_mac != a.mac || m_ip != ip || m_name != a.name || m_hardware != hw
        || m_status != a.status || m_flags != a.flags || m_linkState != a.linkState;
    m_mac = a.mac;
    m_ip = ip;
    m_ipv4 = ipv4Of(ip);
    m_name = a.name;
    m_hardware = hw;
    m_status = a.status;
    m_flags = a.flags;
    m_linkState = a.linkState;
    return changed;
}

QDataStream& operator<<(QDataStream& out, const ZunDeviceStats& stats)
{
    return out << stats.mac() << CIpAddr(stats.getIpAddress()) << stats.rawName() << stats.isLive();
}

QDataStream& operator>>(QDataStream& in, ZunDeviceStats& stats)
{
    CMacAddr mac;
    CIpAddr ip;
    QString name;
    bool live = false;
    in >> mac >> ip >> name >> live;
    if (in.status() != QDataStream::Ok)
        return in;
    stats.setMac(mac);
    stats.setIpAddress(ip.toHostAddress());
    stats.setName(name);
    stats.setLive(live);
    return in;
}
