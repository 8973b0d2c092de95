#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSharedPointer>

class CCmdMap;
class QTcpServer;
class ZunSimDevice;
class ZunSimTcpSession;

// The emulated processor's TCP control port (5000): accepts connections and runs one
// ZunSimTcpSession per connection. Front-panel changes are announced to every session.
class ZunSimTcpServer : public QObject
{
    Q_OBJECT
public:
    ZunSimTcpServer(ZunSimDevice* device, quint16 port, QObject* parent = nullptr);
    ~ZunSimTcpServer() override;

    // Listens on the given address; false (with a message on stderr) on failure.
    bool start(const QHostAddress& bindAddress);
    // The port actually bound (the asked one, or the one the system chose for 0).
    quint16 boundPort() const;

public slots:
    // A parameter changed at the front panel: every connected client is told.
    void on_FrontPanelChange(quint16 cmd, quint16 value);

private slots:
    void on_NewConnection();

private:
    ZunSimDevice* m_device;
    quint16 m_port;
    QSharedPointer<CCmdMap> m_map;
    QTcpServer* m_server;
};
