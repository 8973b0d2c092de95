#pragma once

// The bare clients the link benchmarks measure against, on a plain TCP socket to the
// emulator on loopback, each sending a 4-byte command frame and taking its 6-byte reply:
// - BareSocket: a blocking ping-pong, as bare as it gets;
// - OneHopClient: the command sent from this thread, the reply taken by a receiving
//   thread and handed into this thread's Qt event loop (one hop, as the link hands on);
// - TwoHopClient: the same, and the command also handed first to a sending thread's Qt
//   event loop (the request and the reply each cross one).
// Header-only, for the tools under tools/.
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace ZunFloor
{
// Run before a failing bench exits (ends its emulator).
inline std::function<void()>& onFail()
{
    static std::function<void()> f;
    return f;
}

[[noreturn]] inline void fail(const QString& text)
{
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << text << Qt::endl;
    if (onFail())
        onFail()();
    ::exit(1);
}

inline qint64 nowNs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

inline void commandFrame(char* f, quint16 cmd, int i)
{
    qToLittleEndian<quint16>(cmd, f);
    qToLittleEndian<quint16>(quint16(i & 0xFF), f + 2);
}

class BareSocket
{
public:
    explicit BareSocket(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
            || ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
            fail(QStringLiteral("bare socket: %1").arg(strerror(errno)));
    }
    ~BareSocket() { ::close(m_fd); }

    void send(const char* data, int n)
    {
        while (n > 0) {
            const ssize_t w = ::send(m_fd, data, size_t(n), MSG_NOSIGNAL);
            if (w <= 0)
                fail(QStringLiteral("bare socket: send: %1").arg(strerror(errno)));
            data += w;
            n -= int(w);
        }
    }
    // Two pieces in one segment, without copying them together first.
    void send(const char* a, int na, const char* b, int nb)
    {
        iovec v[2] = {{const_cast<char*>(a), size_t(na)}, {const_cast<char*>(b), size_t(nb)}};
        msghdr m {};
        m.msg_iov = v;
        m.msg_iovlen = 2;
        const ssize_t w = ::sendmsg(m_fd, &m, MSG_NOSIGNAL);
        if (w < 0)
            fail(QStringLiteral("bare socket: send: %1").arg(strerror(errno)));
        if (w < na)
            send(a + w, na - int(w), b, nb);
        else if (w < na + nb)
            send(b + (w - na), nb - int(w - na));
    }
    // False when the connection ends.
    bool tryReceive(char* data, int n)
    {
        while (n > 0) {
            const ssize_t r = ::recv(m_fd, data, size_t(n), 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
            data += r;
            n -= int(r);
        }
        return true;
    }
    void receive(char* data, int n)
    {
        if (!tryReceive(data, n))
            fail(QStringLiteral("bare socket: no answer"));
    }
    void shutDown() { ::shutdown(m_fd, SHUT_RDWR); }

    // One round trip of a command frame, in ns.
    qint64 roundTrip(quint16 cmd, int i)
    {
        char f[4], reply[6];
        commandFrame(f, cmd, i);
        const qint64 t = nowNs();
        send(f, 4);
        receive(reply, 6);
        return nowNs() - t;
    }

private:
    int m_fd = -1;
};

// The replies as they reach this thread's event loop, and the wait for the next one.
class ReplyWaiter : public QObject
{
public:
    void add(quint16 cmd)
    {
        m_cmds.push_back(cmd);
        if (m_loop)
            m_loop->quit();
    }
    quint16 next(int timeoutMs)
    {
        if (m_cmds.empty()) {
            QEventLoop loop;
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            limit.start(timeoutMs);
            m_loop = &loop;
            loop.exec();
            m_loop = nullptr;
            if (m_cmds.empty())
                fail(QStringLiteral("no reply within %1 ms").arg(timeoutMs));
        }
        const quint16 c = m_cmds.front();
        m_cmds.pop_front();
        return c;
    }

private:
    std::deque<quint16> m_cmds;
    QEventLoop* m_loop = nullptr;
};

class OneHopClient
{
public:
    explicit OneHopClient(quint16 port) : m_socket(port)
    {
        m_rx = QThread::create([this] {
            char reply[6];
            while (m_socket.tryReceive(reply, sizeof reply)) {
                const quint16 cmd = qFromLittleEndian<quint16>(reply);
                QMetaObject::invokeMethod(&m_replies, [this, cmd] { m_replies.add(cmd); }, Qt::QueuedConnection);
            }
        });
        m_rx->start();
    }
    virtual ~OneHopClient()
    {
        m_socket.shutDown();
        m_rx->wait();
        delete m_rx;
    }
    qint64 roundTrip(quint16 cmd, int i, int timeoutMs = 10000)
    {
        char f[4];
        commandFrame(f, cmd, i);
        const qint64 t = nowNs();
        sendFrame(f);
        if (m_replies.next(timeoutMs) != cmd)
            fail(QStringLiteral("floor client: wrong reply"));
        return nowNs() - t;
    }

protected:
    virtual void sendFrame(const char* f) { m_socket.send(f, 4); }
    BareSocket m_socket;

private:
    ReplyWaiter m_replies;
    QThread* m_rx = nullptr;
};

class TwoHopClient : public OneHopClient
{
public:
    explicit TwoHopClient(quint16 port) : OneHopClient(port)
    {
        m_tx.start();
        m_sender.moveToThread(&m_tx);
    }
    ~TwoHopClient() override
    {
        m_tx.quit();
        m_tx.wait();
    }

protected:
    void sendFrame(const char* f) override
    {
        QByteArray frame(f, 4);
        QMetaObject::invokeMethod(&m_sender, [this, frame] { m_socket.send(frame.constData(), 4); },
                                  Qt::QueuedConnection);
    }

private:
    QThread m_tx;
    QObject m_sender;
};
} // namespace ZunFloor
