#pragma once

#include <QObject>
#include <QRandomGenerator>
#include <QTcpServer>

class QTcpSocket;

// A TCP proxy on loopback that passes every byte on in pieces of random size (1 to
// maxPiece bytes), one piece per event-loop pass, in both directions.
class FragmentingProxy : public QObject
{
    Q_OBJECT
public:
    FragmentingProxy(quint16 targetPort, int maxPiece, quint32 seed, QObject* parent = nullptr);
    quint16 port() const { return m_server.serverPort(); }
    // Pieces written so far (a check that the stream really was split).
    int pieces() const { return m_pieces; }

private slots:
    void on_NewConnection();

private:
    struct Pipe
    {
        QTcpSocket* from;
        QTcpSocket* to;
        QByteArray queue;
        bool busy = false;
    };
    void pump(Pipe* pipe);
    void deliver(Pipe* pipe);

    QTcpServer m_server;
    quint16 m_target;
    int m_maxPiece;
    QRandomGenerator m_random;
    int m_pieces = 0;
};
