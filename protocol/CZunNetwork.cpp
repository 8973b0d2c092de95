#include "CZunNetwork.h"

#include "ZunIcmpSweep.h"
#include "ZunUdpDatagram.h"

#include <QDebug>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

#include <mutex>

#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {
const QString NetworkCaption = QStringLiteral("ZunControl Network Error");

QHostAddress toV4(const QHostAddress& a)
{
    bool ok = false;
    const quint32 v = a.toIPv4Address(&ok);
    return ok ? QHostAddress(v) : a;
}
} // namespace

void registerDiscoveryMetaTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<QSharedPointer<ZunDeviceStats>>("QSharedPointer<ZunDeviceStats>");
        qRegisterMetaType<CZunHardwareInfo>("CZunHardwareInfo");
        qRegisterMetaTypeStreamOperators<CZunHardwareInfo>("CZunHardwareInfo");
        qRegisterMetaType<CMacAddr>("CMacAddr");
        qRegisterMetaType<CIpAddr>("CIpAddr");
        qRegisterMetaType<QList<quint32>>("QList<quint32>");
        qRegisterMetaType<ZunStatusBatch>("ZunStatusBatch");
    });
}

CZunNetwork::CZunNetwork(QObject* parent)
    : QThread(parent)
{
    registerDiscoveryMetaTypes();
    m_elapsed.start();
    // The slots run in the discovery thread itself.
    moveToThread(this);
}

CZunNetwork::~CZunNetwork()
{
    quit();
    wait();
}

QList<QSharedPointer<ZunDeviceStats>> CZunNetwork::getDeviceList() const
{
    QMutexLocker lock(&m_mutex);
    return m_devices;
}

QSharedPointer<ZunDeviceStats> CZunNetwork::findDevice(quint16 serial) const
{
    QMutexLocker lock(&m_mutex);
    for (const auto& d : m_devices)
        if (d->serial() == serial)
            return d;
    return {};
}

QSharedPointer<ZunDeviceStats> CZunNetwork::findByAddress(const QHostAddress& ip) const
{
    const QHostAddress v4 = toV4(ip);
    bool isV4 = false;
    const quint32 key = v4.toIPv4Address(&isV4);
    if (isV4)
        return findByAddress(key);
    QMutexLocker lock(&m_mutex);
    for (const auto& d : m_devices)
        if (d->getIpAddress() == v4)
            return d;
    return {};
}

QSharedPointer<ZunDeviceStats> CZunNetwork::findByAddress(quint32 ipv4) const
{
    const auto at = [ipv4](const QSharedPointer<ZunDeviceStats>& d) {
        bool isV4 = false;
        const quint32 own = d->getIpAddress().toIPv4Address(&isV4);
        return isV4 && own == ipv4;
    };
    QMutexLocker lock(&m_mutex);
    // Every status datagram asks: the last answer for its address is checked rather than
    // the whole list walked. A record moved by hand is found again by the walk.
    const QSharedPointer<ZunDeviceStats> known = m_byAddress.value(ipv4);
    if (known && at(known))
        return known;
    for (const auto& d : m_devices)
        if (at(d)) {
            m_byAddress.insert(ipv4, d);
            return d;
        }
    return {};
}

void CZunNetwork::setUseNIC(int interfaceIndex)
{
    QMutexLocker lock(&m_mutex);
    m_useNIC = interfaceIndex;
}

int CZunNetwork::useNIC() const
{
    QMutexLocker lock(&m_mutex);
    return m_useNIC;
}

void CZunNetwork::setClock(Clock clock)
{
    QMutexLocker lock(&m_mutex);
    m_clock = std::move(clock);
}

qint64 CZunNetwork::now() const
{
    QMutexLocker lock(&m_mutex);
    return m_clock ? m_clock() : m_elapsed.elapsed();
}

QList<CZunNetwork::Interface> CZunNetwork::usableInterfaces(int useNIC)
{
    QList<Interface> out;
    const auto all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& ni : all) {
        const auto f = ni.flags();
        if (!(f & QNetworkInterface::IsUp) || !(f & QNetworkInterface::IsRunning)
            || !(f & QNetworkInterface::CanBroadcast) || (f & QNetworkInterface::IsLoopBack))
            continue;
        if (useNIC != 0 && ni.index() != useNIC)
            continue;
        for (const QNetworkAddressEntry& e : ni.addressEntries()) {
            if (e.ip().protocol() != QAbstractSocket::IPv4Protocol || e.broadcast().isNull())
                continue;
            Interface i;
            i.index = ni.index();
            i.name = ni.humanReadableName();
            i.ip = e.ip();
            i.broadcast = e.broadcast();
            i.prefixLength = e.prefixLength();
            out << i;
        }
    }
    return out;
}

CZunNetwork::Interface CZunNetwork::interfaceFor(const QHostAddress& ip) const
{
    QList<Interface> ifs;
    {
        QMutexLocker lock(&m_mutex);
        ifs = m_interfaces;
    }
    if (ifs.isEmpty())
        ifs = usableInterfaces(useNIC());
    for (const Interface& i : qAsConst(ifs))
        if (ip.isInSubnet(i.ip, i.prefixLength))
            return i;
    return {};
}

// ---- discovery thread --------------------------------------------------------------

void CZunNetwork::run()
{
    m_socket = new QUdpSocket;
    m_timer = new QTimer;
    m_timer->setInterval(TickMs);
    connect(m_timer, &QTimer::timeout, this, &CZunNetwork::on_Tick);
    // Runs while status datagrams arrive (not armed again for each batch).
    m_statusTimer = new QTimer;
    m_statusTimer->setInterval(StatusBatchMs);
    // Batches a frame apart: a coarse timer's 5 % either way would have the meters' own
    // frame timer wake the GUI thread for every other batch.
    m_statusTimer->setTimerType(Qt::PreciseTimer);
    connect(m_statusTimer, &QTimer::timeout, this, &CZunNetwork::on_StatusFlush);
    connect(m_socket, &QUdpSocket::readyRead, this, &CZunNetwork::on_Readable);
    openSocket();
    exec();
    m_statusTimer->stop();
    on_StatusFlush();
    delete m_statusTimer;
    m_statusTimer = nullptr;
    delete m_timer;
    m_timer = nullptr;
    delete m_socket;
    m_socket = nullptr;
}

void CZunNetwork::openSocket()
{
    if (m_socket->state() == QAbstractSocket::BoundState || m_bindReported)
        return;
    if (m_socket->bind(QHostAddress::AnyIPv4, ZunUdpDatagram::Port,
                       QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, ReceiveBufferBytes);
    } else {
        // Reported once. Sending still binds the socket to a free port, and processors
        // answer to the port a request came from.
        m_bindReported = true;
        emit signal_exception(QStringLiteral("Cannot open UDP port %1: %2").arg(ZunUdpDatagram::Port).arg(m_socket->errorString()),
                              NetworkCaption);
    }
}

void CZunNetwork::writeTo(const QHostAddress& ip, const QByteArray& datagram)
{
    if (!m_socket)
        return;
    openSocket();
    if (m_socket->writeDatagram(datagram, ip, ZunUdpDatagram::Port) < 0)
        qDebug() << "CZunNetwork: cannot send to" << ip.toString() << ":" << m_socket->errorString();
}

void CZunNetwork::startBroadcasting()
{
    if (!inOwnThread()) {
        QMetaObject::invokeMethod(this, "startBroadcasting", Qt::QueuedConnection);
        return;
    }
    on_Tick();
    m_timer->start();
}

void CZunNetwork::on_Tick()
{
    const QList<Interface> ifs = usableInterfaces(useNIC());
    {
        QMutexLocker lock(&m_mutex);
        m_interfaces = ifs;
    }
    // Directed broadcasts: a limited broadcast would follow the default route only.
    const QByteArray ping = ZunUdpDatagram::ping();
    for (const Interface& i : ifs)
        writeTo(i.broadcast, ping);
    checkLiveness();
    emit timeoutTcpCheck();
}

void CZunNetwork::on_Readable()
{
    // While status streams run, the socket is read every StatusBatchMs (on_StatusFlush)
    // and not at every datagram: the datagrams wait in the socket meanwhile.
    if (m_statusTimer && m_statusTimer->isActive())
        return;
    readPending();
    if (!m_statusBatch.isEmpty() && m_statusTimer)
        m_statusTimer->start();
}

void CZunNetwork::readPending()
{
    // Every datagram this program takes is far shorter; a longer one arrives cut to this
    // size and is dropped for its length. Read until the socket has none left: one system
    // call a datagram and one more for the end, without asking first whether one waits.
    // Reading through the socket object also arms its notifier again.
    char buffer[MaxDatagram];
    QHostAddress from;
    for (;;) {
        const qint64 n = m_socket->readDatagram(buffer, MaxDatagram, &from);
        if (n < 0)
            break;
        handleDatagram(QByteArray(buffer, int(n)), from);
    }
}

bool CZunNetwork::readPendingDirect()
{
#ifdef Q_OS_LINUX
    // Many datagrams a system call, read past the socket object: its notifier, which
    // reported the first datagram after the last batch, then stays off and the thread is
    // woken by the batch timer alone while the streams run.
    constexpr int Slots = 32;
    static thread_local char buffers[Slots][MaxDatagram];
    mmsghdr msgs[Slots];
    iovec iov[Slots];
    sockaddr_in from[Slots];
    const int fd = int(m_socket->socketDescriptor());
    if (fd < 0)
        return false;
    for (;;) {
        for (int i = 0; i < Slots; ++i) {
            iov[i] = {buffers[i], MaxDatagram};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_name = &from[i];
            msgs[i].msg_hdr.msg_namelen = sizeof from[i];
        }
        const int n = ::recvmmsg(fd, msgs, Slots, MSG_DONTWAIT, nullptr);
        if (n <= 0)
            return n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        for (int i = 0; i < n; ++i) {
            // A status datagram is read in place (its batch copies it); any other is a
            // copy of its own, as whatever reads it may keep it.
            const QByteArray d = QByteArray::fromRawData(buffers[i], int(msgs[i].msg_len));
            const bool v4 = from[i].sin_family == AF_INET;
            if (v4 && ZunUdpDatagram::isStatus(d))
                handleStatus(d, quint32(ntohl(from[i].sin_addr.s_addr)));
            else
                handleDatagram(QByteArray(d.constData(), d.size()),
                               v4 ? QHostAddress(ntohl(from[i].sin_addr.s_addr)) : QHostAddress());
        }
        if (n < Slots)
            return true;
    }
#else
    return false;
#endif
}

void CZunNetwork::on_StatusFlush()
{
    if (m_socket && !readPendingDirect())
        readPending();
    if (m_statusBatch.isEmpty()) {
        // The streams ended: datagrams are read as they come again (this read arms the
        // socket's notifier), unless one came in between.
        if (m_socket)
            readPending();
        if (m_statusBatch.isEmpty() && m_statusTimer)
            m_statusTimer->stop();
        return;
    }
    ZunStatusBatch batch;
    batch.swap(m_statusBatch);
    m_statusBatch.reserveLike(batch);
    emit zunStatusBatchReceived(batch);
}

void CZunNetwork::triggerStatusTx(quint16 serial, int msInterval)
{
    if (!inOwnThread()) {
        QMetaObject::invokeMethod(this, "triggerStatusTx", Qt::QueuedConnection, Q_ARG(quint16, serial), Q_ARG(int, msInterval));
        return;
    }
    // 2500 / interval datagrams: an interval outside 1..2500 ms would ask for none or
    // divide by zero.
    if (msInterval < 1 || msInterval > StatusStreamMs) {
        qDebug() << "CZunNetwork::triggerStatusTx: interval out of range:" << msInterval;
        return;
    }
    const auto dev = findDevice(serial);
    if (!dev) {
        qDebug() << "CZunNetwork::triggerStatusTx: unknown serial" << serial;
        return;
    }
    // A slower stream must not replace a faster one of the same processor that is still
    // running for another window. Other processors' streams have nothing to do with it.
    const qint64 last = dev->lastStatusMs();
    if (msInterval > m_lastInterval.value(serial, 0) && last >= 0 && now() - last < StatusQuietMs)
        return;
    m_lastInterval.insert(serial, msInterval);
    writeTo(dev->getIpAddress(), ZunUdpDatagram::statusRequest(quint16(msInterval), quint16(StatusStreamMs / msInterval)));
}

void CZunNetwork::sendUdpCmd(QList<quint32> serials, QByteArray datagram)
{
    if (!inOwnThread()) {
        QMetaObject::invokeMethod(this, "sendUdpCmd", Qt::QueuedConnection, Q_ARG(QList<quint32>, serials),
                                  Q_ARG(QByteArray, datagram));
        return;
    }
    if (datagram.isEmpty())
        return;
    for (quint32 serial : qAsConst(serials)) {
        const auto dev = serial <= 0xFFFF ? findDevice(quint16(serial)) : QSharedPointer<ZunDeviceStats>();
        if (!dev) {
            qDebug() << "CZunNetwork::sendUdpCmd: unknown serial" << serial;
            continue;
        }
        writeTo(dev->getIpAddress(), datagram);
    }
}

void CZunNetwork::masterMute(quint32 serial, bool mute)
{
    // Called directly from the GUI thread as well: sendUdpCmd hands it over. Each DSP has
    // its own master mute; a processor whose hardware is not known yet gets both words,
    // so that a mute never leaves a second DSP playing.
    const auto dev = serial <= 0xFFFF ? findDevice(quint16(serial)) : QSharedPointer<ZunDeviceStats>();
    const CZunHardwareInfo hardware = dev ? dev->getHardwareInfo() : CZunHardwareInfo();
    const bool secondDsp = !hardware.isValid() || hardware.isDoubleBoard();
    for (const QByteArray& d : ZunUdpDatagram::masterMuteAll(mute, secondDsp))
        sendUdpCmd(QList<quint32>() << serial, d);
}

void CZunNetwork::setHardwareInfo(quint32 serial, CZunHardwareInfo info)
{
    const auto dev = serial <= 0xFFFF ? findDevice(quint16(serial)) : QSharedPointer<ZunDeviceStats>();
    if (dev)
        dev->setHardwareInfo(info);
}

// ---- datagrams ---------------------------------------------------------------------

void CZunNetwork::handleDatagram(const QByteArray& d, const QHostAddress& from)
{
    if (ZunUdpDatagram::isPing(d))
        return; // our own broadcast, looped back
    if (ZunUdpDatagram::isStatus(d)) {
        handleStatus(d, from);
        return;
    }
    if (d.startsWith(QByteArray("\x5A\x75\x6E\x00", 4))) {
        handleAnnounce(d, from);
        return;
    }
    qDebug() << "CZunNetwork: dropped unknown datagram of" << d.size() << "bytes from" << from.toString();
}

void CZunNetwork::handleStatus(const QByteArray& d, const QHostAddress& from)
{
    bool isV4 = false;
    const quint32 v4 = toV4(from).toIPv4Address(&isV4);
    if (isV4) {
        handleStatus(d, v4);
        return;
    }
    qDebug() << "CZunNetwork: dropped status datagram from unlisted" << from.toString();
}

void CZunNetwork::handleStatus(const QByteArray& d, quint32 ipv4)
{
    QString why;
    if (!ZunUdpDatagram::checkStatus(d, &why)) {
        qDebug() << "CZunNetwork: dropped" << why << "from" << QHostAddress(ipv4).toString();
        return;
    }
    const auto dev = findByAddress(ipv4);
    if (!dev) {
        qDebug() << "CZunNetwork: dropped status datagram from unlisted" << QHostAddress(ipv4).toString();
        return;
    }
    dev->setLastStatusMs(now());
    if (!inOwnThread() || !m_statusTimer) {
        emit zunStatusBatchReceived(ZunStatusBatch {ZunStatusDatagram {dev->serial(), d}});
        return;
    }
    m_statusBatch.append(dev->serial(), d.constData(), d.size());
}

void CZunNetwork::handleAnnounce(const QByteArray& d, const QHostAddress& from)
{
    ZunUdpDatagram::Announce a;
    QString why;
    if (!ZunUdpDatagram::decodeAnnounce(d, &a, &why)) {
        QMutexLocker lock(&m_mutex);
        // A stray sender repeats itself: one line each is enough (and the list stays small).
        if (!m_strayAnnouncers.contains(from) && m_strayAnnouncers.size() < 256) {
            m_strayAnnouncers.insert(from);
            qWarning().noquote() << QStringLiteral("CZunNetwork: dropped %1 from %2").arg(why, from.toString());
        }
        return;
    }
    const Interface iface = interfaceFor(toV4(from));
    const qint64 t = now();
    QSharedPointer<ZunDeviceStats> dev;
    bool added = false, changed = false, routing = false, firmware = false;
    {
        QMutexLocker lock(&m_mutex);
        m_byAddress.clear(); // an announce may move a record
        for (const auto& x : qAsConst(m_devices))
            if (x->serial() == a.mac.serial())
                dev = x;
        // A link of ours talks to this serial at the record's address, or a window of ours
        // shows the processor there that still announces: another host announcing it is a
        // second processor with the same serial (or a stray datagram), never a reason to
        // move the record, to reload the processor or to close its window. A processor
        // that moved is followed once its old address has gone quiet.
        if (dev && (dev->isLinkConnected() || (dev->isWindowOpen() && t - dev->lastAnnounceMs() <= LiveTimeoutMs))) {
            bool isV4 = false;
            const quint32 v4 = from.toIPv4Address(&isV4);
            const QHostAddress sender = isV4 ? QHostAddress(v4) : a.ip.toHostAddress();
            if (sender != dev->getIpAddress()) {
                if (m_duplicates.value(dev->serial()) != sender) {
                    m_duplicates.insert(dev->serial(), sender);
                    qWarning().noquote() << QStringLiteral("CZunNetwork: duplicate serial %1: announced by %2 "
                                                           "while listed at %3; ignored")
                                                .arg(dev->serial())
                                                .arg(sender.toString(), dev->getIpAddress().toString());
                }
                return;
            }
        }
        if (!dev) {
            dev.reset(new ZunDeviceStats(a.mac));
            dev->applyAnnounce(a, from);
            dev->setFirmware(a.firmware());
            dev->setRevision(a.revision());
            dev->setRouting(a.routingWord, a.routingByte);
            m_devices << dev;
            added = true;
        } else {
            changed = dev->applyAnnounce(a, from);
            if (dev->routingWord() != a.routingWord || dev->routingByte() != a.routingByte) {
                dev->setRouting(a.routingWord, a.routingByte);
                routing = true;
            }
            // Firmware 0 means the processor does not say; the version probe's number stays.
            if (a.firmware() != 0 && a.firmware() != dev->firmware()) {
                firmware = true;
                dev->setFirmware(a.firmware());
                dev->setRevision(a.revision());
            } else if (a.firmware() != 0 && a.revision() != dev->revision()) {
                dev->setRevision(a.revision());
                changed = true;
            }
            if (!dev->isLive())
                changed = true;
            if (dev->nic() != iface.index || dev->adapterIp() != iface.ip)
                changed = true;
        }
        dev->setLive(true);
        dev->setLastAnnounceMs(t);
        dev->setInterface(iface.index, iface.name, iface.ip);
    }
    if (added) {
        emit zunDetected(dev);
        emit zunNetworkChanged(dev);
        return;
    }
    if (firmware)
        emit firmwareChanged(dev);
    if (routing)
        emit routingChanged(dev);
    if (changed || routing || firmware)
        emit zunNetworkChanged(dev);
}

void CZunNetwork::checkLiveness()
{
    const qint64 t = now();
    QList<QSharedPointer<ZunDeviceStats>> changed;
    {
        QMutexLocker lock(&m_mutex);
        for (const auto& d : qAsConst(m_devices)) {
            // An announce, the reply to a network scan, a status datagram or a connected
            // control link: the processor answers (one found by the scan never announces).
            const qint64 heard = qMax(d->lastAnnounceMs(), d->lastStatusMs());
            const bool answers = d->isLinkConnected() || (heard >= 0 && t - heard <= LiveTimeoutMs);
            if (d->isLive() != answers) {
                d->setLive(answers);
                changed << d;
            }
        }
    }
    for (const auto& d : qAsConst(changed))
        emit zunNetworkChanged(d);
}

// ---- network scan ------------------------------------------------------------------

void CZunNetwork::addFromScan(const CMacAddr& mac, const QHostAddress& ip, const Interface& iface)
{
    QSharedPointer<ZunDeviceStats> dev;
    bool added = false, changed = false;
    {
        QMutexLocker lock(&m_mutex);
        m_byAddress.clear(); // a scan may move a record
        for (const auto& x : qAsConst(m_devices))
            if (x->serial() == mac.serial())
                dev = x;
        if (!dev) {
            // Firmware unknown (0): registration asks the processor itself.
            dev.reset(new ZunDeviceStats(mac));
            dev->setIpAddress(ip);
            m_devices << dev;
            added = true;
        } else if (dev->getIpAddress() != ip) {
            dev->setIpAddress(ip);
            changed = true;
        }
        if (!dev->isLive())
            changed = true;
        dev->setLive(true);
        dev->setLastAnnounceMs(now());
        dev->setInterface(iface.index, iface.name, iface.ip);
    }
    if (added)
        emit zunDetected(dev);
    if (added || changed)
        emit zunNetworkChanged(dev);
}

void CZunNetwork::scanNetwork()
{
    const QList<Interface> ifs = usableInterfaces(useNIC());
    QList<Interface> swept;
    QStringList skipped;
    QList<QHostAddress> hosts;
    for (const Interface& i : ifs) {
        if (i.prefixLength > 30)
            continue; // no host besides this one
        if (i.prefixLength < ScanMinPrefix) {
            skipped << QStringLiteral("%1/%2 (%3)").arg(i.ip.toString()).arg(i.prefixLength).arg(i.name);
            continue;
        }
        swept << i;
        const quint32 own = i.ip.toIPv4Address();
        const quint32 mask = i.prefixLength == 0 ? 0 : ~quint32(0) << (32 - i.prefixLength);
        const quint32 net = own & mask;
        const quint32 count = ~mask; // host numbers 1 .. count-1
        for (quint32 h = 1; h < count; ++h)
            if (net + h != own)
                hosts << QHostAddress(net + h);
    }
    if (!skipped.isEmpty())
        emit signal_exception(QStringLiteral("These networks are too large for a network scan and were skipped: %1")
                                  .arg(skipped.join(QStringLiteral(", "))),
                              NetworkCaption);
    if (swept.isEmpty()) {
        if (skipped.isEmpty())
            emit signal_exception(QStringLiteral("No network interface to scan."), NetworkCaption);
        return;
    }

    ZunIcmpSweep sweep;
    QString error;
    if (!sweep.ping(hosts, ScanWaitMs, &error)) {
        emit signal_exception(error, NetworkCaption);
        return;
    }
    qDebug() << "CZunNetwork::scanNetwork:" << hosts.size() << "hosts pinged," << sweep.repliesReceived() << "replies";
    const auto table = ZunIcmpSweep::neighbours();
    for (const ZunIcmpSweep::Neighbour& nb : table) {
        if (!nb.mac.isZun())
            continue;
        for (const Interface& i : qAsConst(swept)) {
            if (nb.ip.isInSubnet(i.ip, i.prefixLength)) {
                addFromScan(nb.mac, nb.ip, i);
                break;
            }
        }
    }
}
