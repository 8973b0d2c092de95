#pragma once

#include <QMap>
#include <QObject>
#include <QSharedPointer>

class CCmdMap;
class ZunDeviceStats;

// One command map per firmware version, created on first demand and kept for the
// program's lifetime, so every processor of a version shares one map. Holds a map of
// version 0 (the newest definitions) from the start. Lives in the GUI thread.
class CCmdMapServer : public QObject
{
    Q_OBJECT
public:
    explicit CCmdMapServer(QObject* parent = nullptr);
    ~CCmdMapServer() override;

    // Creates and caches the map of the version unless it is cached already.
    void createMap(quint16 version);
    // The cached map of the version, created first when missing.
    QSharedPointer<CCmdMap> getMap(quint16 version);

signals:
    void serveMap(quint16, QSharedPointer<CCmdMap>);

public slots:
    void newCmdMap(QSharedPointer<ZunDeviceStats> record);
    void onMapRequest(quint16 version);

private:
    QMap<quint16, QSharedPointer<CCmdMap>> m_maps;
};
