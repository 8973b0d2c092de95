#include "RoutingServer.h"

#include "CCmdMap.h"

#include <stdexcept>

RoutingServer::RoutingServer(QObject* parent) : QObject(parent) {}

RoutingServer::~RoutingServer() = default;

void RoutingServer::createLibrary(quint16 key, const QSharedPointer<CCmdMap>& map)
{
    if (m_libraries.contains(key))
        return;
    if (!map)
        throw std::logic_error("RoutingServer::createLibrary(): no command map given.");
    // A map of another version would file that version's presets under this key for
    // every later device.
    if (map->version() != key) {
        throw std::logic_error(QStringLiteral("RoutingServer::createLibrary(): command map of firmware %1 "
                                              "given for firmware %2.")
                                   .arg(map->version())
                                   .arg(key)
                                   .toStdString());
    }
    auto library = QSharedPointer<CRoutingLibrary>::create(map);
    m_libraries.insert(key, library);
}

QSharedPointer<CRoutingLibrary> RoutingServer::getLibrary(quint16 key) const
{
    return m_libraries.value(key);
}

QSharedPointer<CRoutingLibrary> RoutingServer::getLibrary(quint16 key, const QSharedPointer<CCmdMap>& map)
{
    createLibrary(key, map);
    return getLibrary(key);
}
