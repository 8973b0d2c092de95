#pragma once

#include <QProcess>
#include <QStringList>

// One emulated processor (zunsim, from the environment's ZUNSIM) on loopback, with free
// TCP and UDP ports. Control lines go to its standard input; control() waits until the
// emulator has confirmed the line.
class TcpSimProcess
{
public:
    TcpSimProcess() = default;
    ~TcpSimProcess();
    TcpSimProcess(const TcpSimProcess&) = delete;
    TcpSimProcess& operator=(const TcpSimProcess&) = delete;

    // Starts the emulator and waits for its "zunsim ready" line. False with a reason in
    // error() when that fails.
    bool start(const QStringList& extraArgs = QStringList());
    bool control(const QString& line);
    // Sends a control line that answers with a line starting with prefix; returns it.
    QString query(const QString& line, const QString& prefix);
    void stop();

    quint16 tcpPort() const { return m_tcpPort; }
    quint16 udpPort() const { return m_udpPort; }
    QString error() const { return m_error; }
    qint64 pid() const { return m_process.processId(); }


private:
    bool waitForLine(const QString& prefix, int timeoutMs, QString* found = nullptr);

    QProcess m_process;
    QByteArray m_out;
    quint16 m_tcpPort = 0;
    quint16 m_udpPort = 0;
    QString m_error;
};
