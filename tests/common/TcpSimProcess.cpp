#include "TcpSimProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>

TcpSimProcess::~TcpSimProcess() { stop(); }

bool TcpSimProcess::start(const QStringList& extraArgs)
{
    const QString program = qEnvironmentVariable("ZUNSIM");
    if (program.isEmpty()) {
        m_error = QStringLiteral("ZUNSIM is not set");
        return false;
    }
    // Port 0: the emulator binds what the system gives it and names the ports in its
    // ready line, so tests running in parallel never race for a port.
    QStringList args = {QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                        QStringLiteral("0"), QStringLiteral("--udp-port"), QStringLiteral("0")};
    // The emulator ends with the test however the test ends (a crash, an abort, a kill by
    // ctest's timeout). QProcess forks from this thread: a test starts its emulators from
    // the thread that lives as long as they do.
    args << QStringLiteral("--parent") << QString::number(QCoreApplication::applicationPid());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, args + extraArgs);
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    QString ready;
    if (!waitForLine(QStringLiteral("zunsim ready"), 20000, &ready)) {
        m_error = QStringLiteral("zunsim did not become ready");
        return false;
    }
    const QStringList words = ready.split(QLatin1Char(' '));
    m_tcpPort = quint16(words.value(words.indexOf(QStringLiteral("tcp")) + 1).toUInt());
    m_udpPort = quint16(words.value(words.indexOf(QStringLiteral("udp")) + 1).toUInt());
    if (m_tcpPort == 0 || m_udpPort == 0) {
        m_error = QStringLiteral("zunsim did not name its ports: ") + ready;
        return false;
    }
    return true;
}

bool TcpSimProcess::waitForLine(const QString& prefix, int timeoutMs, QString* found)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        int nl;
        while ((nl = m_out.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_out.left(nl)).trimmed();
            m_out.remove(0, nl + 1);
            if (line.startsWith(prefix)) {
                if (found)
                    *found = line;
                return true;
            }
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

QString TcpSimProcess::query(const QString& line, const QString& prefix)
{
    m_process.write(line.toUtf8() + '\n');
    QString found;
    return waitForLine(prefix, 10000, &found) ? found : QString();
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
