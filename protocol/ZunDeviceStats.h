#pragma once

#include "CMacAddr.h"
#include "CZunHardwareInfo.h"
#include "ZunUdpDatagram.h"

#include <QDataStream>
#include <QHostAddress>
#include <QMetaType>
#include <QMutex>
#include <QSharedPointer>
#include <QString>

#include <atomic>

// The discovery record of one processor, filled from its announces (or from the network
// scan) and shared as QSharedPointer<ZunDeviceStats> between the discovery thread, which
// writes it, and the GUI and device threads, which read it. Every accessor takes the
// record's own lock, so a reader never sees a half-written field; the two that the status
// reader uses for every processor of every batch (ipv4Address, the last status time) are
// atomic instead.
class ZunDeviceStats
{
public:
    static constexpr quint16 StatusIdle = 0xFF70;
    static constexpr quint16 StatusCmdChange = 0xFF71;
    static constexpr quint16 LinkStateConnected = 6;

    ZunDeviceStats() = default;
    explicit ZunDeviceStats(const CMacAddr& mac) : m_mac(mac) {}
    ZunDeviceStats(const ZunDeviceStats&) = delete;
    ZunDeviceStats& operator=(const ZunDeviceStats&) = delete;

    CMacAddr mac() const;
    void setMac(const CMacAddr& mac);
    // The last two MAC bytes, the fifth as high byte: the key of a processor.
    quint16 serial() const;

    QHostAddress getIpAddress() const;
    void setIpAddress(const QHostAddress& ip);
    // The address as a number, 0 when it is not IPv4.
    quint32 ipv4Address() const { return m_ipv4.load(std::memory_order_relaxed); }
    // The announced name, trimmed; "Zun Nr. %1" (serial) when that is empty.
    QString getName() const;
    QString rawName() const;
    void setName(const QString& name);

    // Firmware number (low 12 bits of the version word; 0 = unknown) and the second
    // version field (its top 4 bits).
    quint16 firmware() const;
    void setFirmware(quint16 firmware);
    quint16 revision() const;
    void setRevision(quint16 revision);
    // "%1.%2": firmware and second version field.
    QString getFirmwareString() const;

    quint16 routingWord() const;   // announce offset 11
    quint8 routingByte() const;    // announce offset 7
    void setRouting(quint16 word, quint8 byte);

    CZunHardwareInfo getHardwareInfo() const;
    void setHardwareInfo(const CZunHardwareInfo& info);

    quint16 statusWord() const;
    void setStatusWord(quint16 w);
    quint16 flagsWord() const;
    void setFlagsWord(quint16 w);
    quint16 linkState() const;
    void setLinkState(quint16 w);

    bool isLive() const;
    void setLive(bool live);
    // A control link of this program is connected to the processor (set by the link):
    // discovery then keeps the record's address, and an announce of the same serial from
    // another address is a duplicate serial.
    bool isLinkConnected() const;
    void setLinkConnected(bool connected);
    // A control window of this program is open on the processor (set by the main window):
    // connected or not, it stays on the processor it shows, so another host announcing
    // the serial is a duplicate while the record's address still announces.
    bool isWindowOpen() const;
    void setWindowOpen(bool open);
    // Clock time (ms) of the last announce and of the last status datagram; -1 = never.
    qint64 lastAnnounceMs() const;
    void setLastAnnounceMs(qint64 ms);
    qint64 lastStatusMs() const;
    void setLastStatusMs(qint64 ms);

    // The local network interface through which the processor is reached: its index
    // (as "useNIC" counts), name and IPv4 address.
    int nic() const;
    QString adapter() const;
    QHostAddress adapterIp() const;
    void setInterface(int nic, const QString& adapter, const QHostAddress& adapterIp);

    // "ok", or "Err %1" (status word's low byte, two lower-case hex digits, blank-filled)
    // when the high byte is 0xFF and the word is neither idle nor command change.
    QString statusText() const;
    static QString statusText(quint16 statusWord);
    // "analog" (flags bit 1), "locked" (bit 0) or "not locked".
    QString clockText() const;
    bool isFlag6Set() const;
    QString toolTip() const;

    // Fills the record from an announce (not the firmware fields: see CZunNetwork).
    // Returns true when any field changed.
    bool applyAnnounce(const ZunUdpDatagram::Announce& a, const QHostAddress& from);

private:
    mutable QMutex m_mutex;
    CMacAddr m_mac;
    QHostAddress m_ip;
    std::atomic<quint32> m_ipv4 {0}; // m_ip's, kept beside it
    QString m_name;
    quint16 m_firmware = 0;
    quint16 m_revision = 0;
    quint16 m_routingWord = 0;
    quint8 m_routingByte = 0;
    CZunHardwareInfo m_hardware;
    quint16 m_status = 0;
    quint16 m_flags = 0;
    quint16 m_linkState = 0;
    bool m_live = false;
    bool m_linkConnected = false;
    bool m_windowOpen = false;
    qint64 m_lastAnnounce = -1;
    std::atomic<qint64> m_lastStatus {-1}; // set by the status reader, without the lock
    int m_nic = 0;
    QString m_adapter;
    QHostAddress m_adapterIp;
};

// Carry MAC, address, name and live flag.
QDataStream& operator<<(QDataStream& out, const ZunDeviceStats& stats);
QDataStream& operator>>(QDataStream& in, ZunDeviceStats& stats);

Q_DECLARE_METATYPE(QSharedPointer<ZunDeviceStats>)
