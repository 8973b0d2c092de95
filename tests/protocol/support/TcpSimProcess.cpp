#include "TcpSimProcess.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QUdpSocket>

TcpSimProcess::~TcpSimProcess() { stop(); }

quint16 TcpSimProcess::freeTcpPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

quint16 TcpSimProcess::freeUdpPort()
{
    QUdpSocket s;
    s.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return s.localPort();
}

bool TcpSimProcess::start(const QStringList& extraArgs)
{
    const QString program = qEnvironmentVariable("ZUNSIM");
    if (program.isEmpty()) {
        m_error = QStringLiteral("ZUNSIM is not set");
        return false;
    }
    m_tcpPort = freeTcpPort();
    QStringList args = {QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                        QString::number(m_tcpPort), QStringLiteral("--udp-port"), QString::number(freeUdpPort())};
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, args + extraArgs);
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    if (!waitForLine(QStringLiteral("zunsim ready"), 20000)) {
        m_error = QStringLiteral("zunsim did not become ready");
        return false;
    }
    return true;
}

bool TcpSimProcess::waitForLine(const QString& prefix, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        int nl;
        while ((nl = m_out.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_out.left(nl)).trimmed();
            m_out.remove(0, nl + 1);
            if (line.startsWith(prefix))
                return true;
        }
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return false;
        if (m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            m_out.append(m_process.readAllStandardOutput());
    }
}

bool TcpSimProcess::control(const QString& line)
{
    m_process.write(line.toUtf8() + '\n');
    return waitForLine(QStringLiteral("ok ") + line, 10000);
}

void TcpSimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}
