#include "ZunSimTcpServer.h"

#include "CCmdMap.h"
#include "ZunSimDevice.h"
#include "ZunSimTcpSession.h"

#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>

ZunSimTcpServer::ZunSimTcpServer(ZunSimDevice* device, quint16 port, QObject* parent)
    : QObject(parent), m_device(device), m_port(port), m_map(new CCmdMap), m_server(new QTcpServer(this))
{
    QMutexLocker lock(&m_device->mutex());
    m_map->setVersion(m_device->identity().firmware);
    connect(m_server, &QTcpServer::newConnection, this, &ZunSimTcpServer::on_NewConnection);
}

ZunSimTcpServer::~ZunSimTcpServer() = default;

bool ZunSimTcpServer::start(const QHostAddress& bindAddress)
{
    if (!m_server->listen(bindAddress, m_port)) {
        QTextStream(stderr) << "zunsim: cannot listen on TCP port " << m_port << ": " << m_server->errorString()
                            << Qt::endl;
        return false;
    }
    return true;
}

void ZunSimTcpServer::on_NewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection())
        new ZunSimTcpSession(socket, m_device, m_map, this);
}

void ZunSimTcpServer::on_FrontPanelChange(quint16 cmd, quint16)
{
    for (ZunSimTcpSession* session : findChildren<ZunSimTcpSession*>(QString(), Qt::FindDirectChildrenOnly))
        session->announceChange(cmd);
}

quint16 ZunSimTcpServer::boundPort() const
{
    return m_server->serverPort();
}
