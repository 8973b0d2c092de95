#include "CCmdMapServer.h"

#include "CCmdMap.h"
#include "ZunDeviceStats.h"

CCmdMapServer::CCmdMapServer(QObject* parent) : QObject(parent)
{
    createMap(0);
}

CCmdMapServer::~CCmdMapServer() = default;

void CCmdMapServer::createMap(quint16 version)
{
    if (m_maps.contains(version))
        return;
    QSharedPointer<CCmdMap> map(new CCmdMap);
    map->setVersion(version);
    m_maps.insert(version, map);
}

QSharedPointer<CCmdMap> CCmdMapServer::getMap(quint16 version)
{
    createMap(version);
    return m_maps.value(version);
}

void CCmdMapServer::newCmdMap(QSharedPointer<ZunDeviceStats> record)
{
    if (record)
        createMap(record->firmware());
}

void CCmdMapServer::onMapRequest(quint16 version)
{
    emit serveMap(version, getMap(version));
}
