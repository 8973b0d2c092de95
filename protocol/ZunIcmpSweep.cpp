#include "ZunIcmpSweep.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr quint8 EchoRequest = 8;
constexpr quint8 EchoReply = 0;

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { if (m_fd >= 0) ::close(m_fd); }
    int get() const { return m_fd; }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

private:
    int m_fd;
};

QByteArray echoRequest(quint16 id, quint16 seq)
{
    QByteArray m(16, '\0');
    m[0] = char(EchoRequest);
    m[4] = char(id >> 8);
    m[5] = char(id & 0xFF);
    m[6] = char(seq >> 8);
    m[7] = char(seq & 0xFF);
    memcpy(m.data() + 8, "ZunScan!", 8);
    const quint16 sum = ZunIcmpSweep::checksum(m);
    m[2] = char(sum >> 8);
    m[3] = char(sum & 0xFF);
    return m;
}

} // namespace

quint16 ZunIcmpSweep::checksum(const QByteArray& data)
{
    quint32 sum = 0;
    const int n = data.size();
    for (int i = 0; i + 1 < n; i += 2)
        sum += (quint32(quint8(data[i])) << 8) | quint8(data[i + 1]);
    if (n & 1)
        sum += quint32(quint8(data[n - 1])) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum & 0xFFFF);
}

bool ZunIcmpSweep::isEchoReply(const char* data, int size, bool withIpHeader, quint16 id)
{
    int off = 0;
    if (withIpHeader) {
        // The header's own length word decides where the ICMP message starts: an IPv4
        // header is 20 to 60 bytes, and the message's first 8 bytes must follow it.
        if (size < 20 || quint8(data[0]) >> 4 != 4)
            return false;
        off = (quint8(data[0]) & 0x0F) * 4;
        if (off < 20 || size < off + 8)
            return false;
        const quint16 rid = quint16((quint8(data[off + 4]) << 8) | quint8(data[off + 5]));
        if (rid != id)
            return false;
    } else if (size < 8) {
        return false;
    }
    return quint8(data[off]) == EchoReply;
}

bool ZunIcmpSweep::ping(const QList<QHostAddress>& hosts, int timeoutMs, QString* error)
{
    m_replies = 0;
    bool raw = false;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EPROTONOSUPPORT)) {
        // A fresh namespace refuses unprivileged ICMP sockets (ping_group_range "1 0").
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = true;
    }
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("Cannot open an ICMP socket for the network scan: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    Fd sock(fd);
    const quint16 id = quint16(::getpid() & 0xFFFF);

    QSet<quint32> pending;
    quint16 seq = 0;
    for (const QHostAddress& h : hosts) {
        bool ok = false;
        const quint32 v4 = h.toIPv4Address(&ok);
        if (!ok)
            continue;
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(v4);
        const QByteArray m = echoRequest(id, ++seq);
        // A host whose neighbour entry already failed refuses at once; that is an answer
        // of sorts, not an error of the scan.
        if (::sendto(sock.get(), m.constData(), size_t(m.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0)
            pending.insert(v4);
    }

    QElapsedTimer timer;
    timer.start();
    char buf[1500];
    while (!pending.isEmpty()) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0)
            break;
        pollfd p { sock.get(), POLLIN, 0 };
        const int r = ::poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        sockaddr_in from {};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(sock.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n <= 0)
            continue;
        if (!isEchoReply(buf, int(n), raw, id))
            continue;
        if (pending.remove(ntohl(from.sin_addr.s_addr)))
            ++m_replies;
    }
    return true;
}

QList<ZunIcmpSweep::Neighbour> ZunIcmpSweep::parseArpTable(const QByteArray& text)
{
    // IP address  HW type  Flags  HW address  Mask  Device
    QList<Neighbour> out;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].simplified().split(' ');
        if (f.size() < 6)
            continue;
        bool ok = false;
        const uint flags = f[2].toUInt(&ok, 16);
        if (!ok || !(flags & 0x2)) // ATF_COM: the entry is complete
            continue;
        Neighbour nb;
        if (!nb.ip.setAddress(QString::fromLatin1(f[0])) || nb.ip.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        nb.mac = CMacAddr::fromString(QString::fromLatin1(f[3]));
        if (nb.mac.isNull())
            continue;
        nb.device = QString::fromLatin1(f[5]);
        out << nb;
    }
    return out;
}

QList<ZunIcmpSweep::Neighbour> ZunIcmpSweep::neighbours()
{
    // thread-self: the table of the calling thread's network namespace.
    QFile f(QStringLiteral("/proc/thread-self/net/arp"));
    if (!f.open(QIODevice::ReadOnly)) {
        f.setFileName(QStringLiteral("/proc/net/arp"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
    }
    return parseArpTable(f.readAll());
}
