#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

// Asks a processor for its version word over TCP (port 5000): request 0A FF 00 00, reply
// bytes 4-5 the word (bits 0-11 firmware, 12-15 second version field). Runs on the event
// loop, so the program stays responsive while a processor is slow or silent. The limits
// are those of a blocking probe: 10000 ms for the connection, 1000 ms for each wait for
// more reply bytes, 2000 ms for the disconnection. finished() comes exactly once; the
// probe deletes itself afterwards.
class ZunVersionProbe : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 Port = 5000;
    static constexpr int ConnectMs = 10000;
    static constexpr int DataMs = 1000;
    static constexpr int DisconnectMs = 2000;

    explicit ZunVersionProbe(const QHostAddress& address, quint16 port = Port, QObject* parent = nullptr);
    ~ZunVersionProbe() override;

    void start();

signals:
    // ok false: error names the failed step.
    void finished(bool ok, quint16 versionWord, QString error);

private:
    void onConnected();
    void onReadyRead();
    void onTimeout();
    void finish(bool ok, const QString& error);

    enum class State { Idle, Connecting, Reading, Disconnecting, Done };
    QHostAddress m_address;
    quint16 m_port;
    QTcpSocket* m_socket;
    QTimer* m_timer;
    State m_state = State::Idle;
    quint16 m_word = 0;
};
