#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>

class QTimer;
class QUdpSocket;
class ZunSimDevice;

// The emulated processor's UDP side (port 1234): discovery ping and announce, status
// stream, single UDP commands.
class ZunSimUdp : public QObject
{
    Q_OBJECT
public:
    ZunSimUdp(ZunSimDevice* device, quint16 port, QObject* parent = nullptr);
    // Binds the UDP port on the given address; false (with a message on stderr) on failure.
    bool start(const QHostAddress& bindAddress);
    // The port actually bound (the asked one, or the one the system chose for 0).
    quint16 boundPort() const;

    QByteArray announce() const;
    // The next status record (levels move a step with every call).
    QByteArray nextStatusRecord();

public slots:
    // A parameter changed outside the UDP side: the next status record reports it.
    void on_ParameterChanged(quint16 cmd, quint16 value);

private slots:
    void on_Readable();

private:
    struct Stream
    {
        QHostAddress to;
        quint16 port = 0;
        int remaining = 0;
        QTimer* timer = nullptr;
    };

    void handle(const QByteArray& d, const QHostAddress& from, quint16 fromPort);
    void startStream(const QHostAddress& to, quint16 port, quint16 intervalMs, quint16 count);
    void streamTick(const QString& key);
    // The changed parameter the next status record reports.
    void notePending(quint16 cmd);

    ZunSimDevice* m_device;
    quint16 m_port;
    QUdpSocket* m_socket = nullptr;
    QHostAddress m_ownAddress;
    QHash<QString, Stream> m_streams;
    int m_phase = 0;
    int m_pendingStatus = -1;
};
