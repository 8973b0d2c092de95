#include "ZunVersionProbe.h"

#include <QTcpSocket>
#include <QTimer>

ZunVersionProbe::ZunVersionProbe(const QHostAddress& address, quint16 port, QObject* parent)
    : QObject(parent)
    , m_address(address)
    , m_port(port)
    , m_socket(new QTcpSocket(this))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ZunVersionProbe::onTimeout);
    connect(m_socket, &QTcpSocket::connected, this, &ZunVersionProbe::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &ZunVersionProbe::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_state == State::Disconnecting)
            finish(true, QString());
        else if (m_state != State::Done)
            finish(false, m_socket->errorString());
    });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        // The peer closing after its reply is the normal end of a disconnection.
        if (m_state == State::Disconnecting)
            finish(true, QString());
        else if (m_state != State::Done)
            finish(false, m_socket->errorString());
    });
}

ZunVersionProbe::~ZunVersionProbe() = default;

void ZunVersionProbe::start()
{
    m_state = State::Connecting;
    m_timer->start(ConnectMs);
    m_socket->connectToHost(m_address, m_port, QIODevice::ReadWrite);
}

void ZunVersionProbe::onConnected()
{
    if (m_state != State::Connecting)
        return;
    m_state = State::Reading;
    static const char request[] = {'\x0A', '\xFF', '\x00', '\x00'};
    m_socket->write(request, sizeof request);
    m_timer->start(DataMs);
}

void ZunVersionProbe::onReadyRead()
{
    if (m_state != State::Reading)
        return;
    if (m_socket->bytesAvailable() < 6) {
        m_timer->start(DataMs); // each wait for more data starts anew
        return;
    }
    const QByteArray reply = m_socket->read(6);
    m_word = quint16(quint8(reply[4]) | (quint8(reply[5]) << 8));
    m_state = State::Disconnecting;
    m_timer->start(DisconnectMs);
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        finish(true, QString());
}

void ZunVersionProbe::onTimeout()
{
    switch (m_state) {
    case State::Connecting:
        finish(false, QStringLiteral("Version probe: no connection to %1 (%2)").arg(m_address.toString(), m_socket->errorString()));
        break;
    case State::Reading:
        finish(false, QStringLiteral("Version probe: no version reply from %1").arg(m_address.toString()));
        break;
    case State::Disconnecting:
        // A processor that does not let go of the connection is not in a state to be
        // registered: like every other wait, a failed disconnection registers nothing.
        finish(false, QStringLiteral("Version probe: no disconnection from %1").arg(m_address.toString()));
        break;
    default:
        break;
    }
}

void ZunVersionProbe::finish(bool ok, const QString& error)
{
    if (m_state == State::Done)
        return;
    m_state = State::Done;
    m_timer->stop();
    m_socket->abort();
    emit finished(ok, m_word, error);
    deleteLater();
}
