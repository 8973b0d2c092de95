#include "FragmentingProxy.h"

#include <QTcpSocket>
#include <QTimer>

#include <memory>

FragmentingProxy::FragmentingProxy(quint16 targetPort, int maxPiece, quint32 seed, QObject* parent)
    : QObject(parent), m_target(targetPort), m_maxPiece(maxPiece), m_random(seed)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &FragmentingProxy::on_NewConnection);
}

void FragmentingProxy::on_NewConnection()
{
    QTcpSocket* client = m_server.nextPendingConnection();
    if (!client)
        return;
    client->setParent(this);
    auto* upstream = new QTcpSocket(this);
    upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto up = std::make_shared<Pipe>(Pipe{client, upstream, {}, false});
    auto down = std::make_shared<Pipe>(Pipe{upstream, client, {}, false});
    connect(client, &QTcpSocket::readyRead, this, [this, up]() { pump(up.get()); });
    connect(upstream, &QTcpSocket::readyRead, this, [this, down]() { pump(down.get()); });
    connect(upstream, &QTcpSocket::connected, this, [this, up]() { pump(up.get()); });
    connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
    connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
    upstream->connectToHost(QHostAddress::LocalHost, m_target);
}

void FragmentingProxy::pump(Pipe* pipe)
{
    pipe->queue.append(pipe->from->readAll());
    if (!pipe->busy)
        deliver(pipe);
}

void FragmentingProxy::deliver(Pipe* pipe)
{
    pipe->busy = false;
    if (pipe->queue.isEmpty() || pipe->to->state() != QAbstractSocket::ConnectedState)
        return;
    const int n = qMin(pipe->queue.size(), 1 + int(m_random.bounded(quint32(m_maxPiece))));
    pipe->to->write(pipe->queue.left(n));
    pipe->to->flush();
    pipe->queue.remove(0, n);
    ++m_pieces;
    if (!pipe->queue.isEmpty()) {
        // One piece per pass, so the reader sees the stream cut at these points.
        pipe->busy = true;
        QTimer::singleShot(0, pipe->to, [this, pipe]() { deliver(pipe); });
    }
}
