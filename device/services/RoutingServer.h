#pragma once

#include "CRoutingLibrary.h"

#include <QMap>
#include <QObject>
#include <QSharedPointer>

class CCmdMap;

// Hands out one routing library per firmware version, built on first demand and kept
// for the server's lifetime, so every device of a version shares it. Lives in the GUI
// thread.
class RoutingServer : public QObject
{
    Q_OBJECT
public:
    explicit RoutingServer(QObject* parent = nullptr);
    ~RoutingServer() override;

    // Builds and caches the library of the key (the firmware version) from the map when
    // none is cached. The map must have that version selected (std::logic_error
    // otherwise, and for a null map); a name the map lacks throws CCmdMap::invalid_cmd
    // and caches nothing.
    void createLibrary(quint16 key, const QSharedPointer<CCmdMap>& map);
    // The cached library, or null.
    QSharedPointer<CRoutingLibrary> getLibrary(quint16 key) const;
    // createLibrary, then getLibrary.
    QSharedPointer<CRoutingLibrary> getLibrary(quint16 key, const QSharedPointer<CCmdMap>& map);

signals:
    void serveRoutingLibrary(quint16, QSharedPointer<CRoutingLibrary>);

private:
    QMap<quint16, QSharedPointer<CRoutingLibrary>> m_libraries;
};
