#include "CZunNetwork.h"

#include "ZunIcmpSweep.h"
#include "ZunUdpDatagram.h"

#include <QDebug>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

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
        // The status monitor's round of requests to the discovery thread.
        qRegisterMetaType<QList<quint16>>("QList<quint16>");
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
    m_timer = new QTimer;
    m_timer->setInterval(TickMs);
    connect(m_timer, &QTimer::timeout, this, &CZunNetwork::on_Tick);
    openSocket();
    // The reader wakes for the socket and for the end, never for this thread's events.
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    QThread* reader = nullptr;
    if (m_fd >= 0 && m_wakeFd >= 0) {
        reader = QThread::create([this] { readLoop(); });
        reader->setObjectName(QStringLiteral("CZunNetwork reader"));
        reader->start();
    }
    exec();
    if (reader) {
        const quint64 one = 1;
        if (::write(m_wakeFd, &one, sizeof one) < 0)
            qWarning() << "CZunNetwork: cannot stop the reader:" << strerror(errno);
        reader->wait();
        delete reader;
    }
    delete m_timer;
    m_timer = nullptr;
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_wakeFd = -1;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CZunNetwork::openSocket()
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        emit signal_exception(QStringLiteral("Cannot open UDP port %1: %2").arg(ZunUdpDatagram::Port).arg(strerror(errno)),
                              NetworkCaption);
        return;
    }
    const int on = 1;
    // The pings go to each network's broadcast address.
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const int bytes = ReceiveBufferBytes;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_port = htons(ZunUdpDatagram::Port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    // The port is not shared: a datagram to a port that several sockets share reaches only
    // the one bound last, so a second program would take every answer from the first,
    // whose processors would all go offline.
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0)
        return;
    const int why = errno;
    // Another program holds the port: this one listens on a port of its own, where the
    // processors answer its requests, and both list them.
    any.sin_port = 0;
    socklen_t length = sizeof any;
    if (why == EADDRINUSE && ::bind(m_fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0
        && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&any), &length) == 0) {
        emit signal_PortHeldElsewhere(ntohs(any.sin_port));
        return;
    }
    // Reported once. Sending still binds the socket to a free port.
    emit signal_exception(QStringLiteral("Cannot open UDP port %1: %2").arg(ZunUdpDatagram::Port).arg(strerror(why)),
                          NetworkCaption);
}

void CZunNetwork::writeTo(const QHostAddress& ip, const QByteArray& datagram)
{
    bool isV4 = false;
    const quint32 v4 = toV4(ip).toIPv4Address(&isV4);
    if (m_fd < 0 || !isV4)
        return;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(ZunUdpDatagram::Port);
    to.sin_addr.s_addr = htonl(v4);
    if (::sendto(m_fd, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        qDebug() << "CZunNetwork: cannot send to" << ip.toString() << ":" << strerror(errno);
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

// ---- reader thread -----------------------------------------------------------------

int CZunNetwork::statusBatchMs() const
{
    return now() < m_fastStreamsUntil.load() ? StatusBatchMs : StatusSlowBatchMs;
}

bool CZunNetwork::waitForReader(bool socketToo, int timeoutMs) const
{
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_fd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, socketToo ? 2 : 1, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n >= 0 && !(fds[0].revents & POLLIN);
    }
}

void CZunNetwork::readLoop()
{
    // Idle, the thread sleeps until a datagram comes. While status streams run it reads
    // the socket every statusBatchMs() and hands what came on as one batch, until a read
    // finds no status datagram; the datagrams wait in the socket meanwhile.
    while (waitForReader(true, -1)) {
        for (int taken = drain(); taken > 0;) {
            if (!waitForReader(false, statusBatchMs()))
                break;
            taken = drain();
            flushStatus();
        }
    }
    flushStatus();
}

int CZunNetwork::drain()
{
    // Many datagrams a system call. A status datagram is read in place (its batch copies
    // it); any other is handed to the discovery thread as a copy of its own.
    constexpr int Slots = 32;
    static thread_local char buffers[Slots][MaxDatagram];
    mmsghdr msgs[Slots];
    iovec iov[Slots];
    sockaddr_in from[Slots];
    const qint64 t = now();
    ++m_drains;
    int status = 0;
    for (;;) {
        for (int i = 0; i < Slots; ++i) {
            iov[i] = {buffers[i], MaxDatagram};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_name = &from[i];
            msgs[i].msg_hdr.msg_namelen = sizeof from[i];
        }
        const int n = ::recvmmsg(m_fd, msgs, Slots, MSG_DONTWAIT, nullptr);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return status;
        for (int i = 0; i < n; ++i) {
            const char* data = buffers[i];
            const int size = int(msgs[i].msg_len);
            const quint32 v4 = from[i].sin_family == AF_INET ? quint32(ntohl(from[i].sin_addr.s_addr)) : 0;
            if (v4 && size >= 2 && qFromLittleEndian<quint16>(data) == ZunUdpDatagram::IdStatus) {
                status += takeStatus(data, size, v4, t);
                continue;
            }
            const QByteArray d(data, size);
            if (ZunUdpDatagram::isPing(d))
                continue; // our own broadcast, looped back
            const QHostAddress sender = v4 ? QHostAddress(v4) : QHostAddress();
            QMetaObject::invokeMethod(this, [this, d, sender] { handleDatagram(d, sender); }, Qt::QueuedConnection);
        }
        if (n < Slots)
            return status;
    }
}

int CZunNetwork::takeStatus(const char* data, int size, quint32 ipv4, qint64 t)
{
    const int record = size - ZunUdpDatagram::StatusHeaderSize;
    if (record != ZunUdpDatagram::StatusRecordSmall && record != ZunUdpDatagram::StatusRecordLarge) {
        handleStatus(QByteArray(data, size), ipv4); // says why it is dropped
        return 0;
    }
    // A processor sends several datagrams a batch: its record is found once a read, and
    // then while it keeps its address, without the list's lock.
    auto it = m_readerKnown.find(ipv4);
    if (it == m_readerKnown.end() || it->drain != m_drains) {
        if (it == m_readerKnown.end() || it->record->ipv4Address() != ipv4) {
            const QSharedPointer<ZunDeviceStats> dev = findByAddress(ipv4);
            if (!dev) {
                qDebug() << "CZunNetwork: dropped status datagram from unlisted" << QHostAddress(ipv4).toString();
                return 0;
            }
            it = m_readerKnown.insert(ipv4, ReaderKnown {dev, dev->serial(), 0});
        }
        it->drain = m_drains;
        it->record->setLastStatusMs(t);
    }
    m_statusBatch.append(it->serial, data, size);
    return 1;
}

void CZunNetwork::flushStatus()
{
    if (m_statusBatch.isEmpty())
        return;
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
    if (msInterval < StatusSlowBatchMs) {
        const qint64 until = now() + StatusStreamMs;
        if (until > m_fastStreamsUntil.load())
            m_fastStreamsUntil = until;
    }
    writeTo(dev->getIpAddress(), ZunUdpDatagram::statusRequest(quint16(msInterval), quint16(StatusStreamMs / msInterval)));
}

void CZunNetwork::triggerStatusTxOf(QList<quint16> serials, int msInterval)
{
    if (!inOwnThread()) {
        QMetaObject::invokeMethod(this, [this, serials, msInterval] { triggerStatusTxOf(serials, msInterval); },
                                  Qt::QueuedConnection);
        return;
    }
    for (quint16 serial : qAsConst(serials))
        triggerStatusTx(serial, msInterval);
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
    // Not read from the socket (the reader batches those): handed on at once.
    emit zunStatusBatchReceived(ZunStatusBatch {ZunStatusDatagram {dev->serial(), d}});
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
