#pragma once

// What the gain-page tools share: an emulated processor on loopback and a device object
// connected to it, in settings of their own (never the user's).
#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "CZun.h"
#include "ZunDeviceStats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUdpSocket>

#include <functional>

namespace GainPageRig
{
[[noreturn]] inline void fail(const QString& text)
{
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << text << Qt::endl;
    ::exit(1);
}

inline quint16 freePort(bool tcp)
{
    if (tcp) {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        return s.serverPort();
    }
    QUdpSocket s;
    s.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return s.localPort();
}

// Before the application object: a private home folder for the settings.
inline void privateSettings(QTemporaryDir& home)
{
    qputenv("HOME", home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

// The emulator (ZUNSIM, else the built one) with firmware 1080 and the given words.
class Sim
{
public:
    Sim(quint32 hardware, quint32 routing)
        : m_tcpPort(freePort(true)), m_udpPort(freePort(false))
    {
        const QString sim =
            qEnvironmentVariableIsSet("ZUNSIM") ? qEnvironmentVariable("ZUNSIM") : QStringLiteral(ZUNSIM_PATH);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(sim, {"--bind", "127.0.0.1", "--tcp-port", QString::number(m_tcpPort), "--udp-port",
                              QString::number(m_udpPort), "--firmware", "1080", "--hardware",
                              QString::number(hardware), "--routing", QString::number(routing)});
        QByteArray line;
        while (!line.contains("zunsim ready")) {
            if (!m_process.waitForReadyRead(10000))
                fail(QStringLiteral("the emulator %1 did not start").arg(sim));
            line += m_process.readAllStandardOutput();
        }
    }
    ~Sim()
    {
        m_process.write("quit\n");
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    quint16 tcpPort() const { return m_tcpPort; }
    quint16 udpPort() const { return m_udpPort; }

private:
    quint16 m_tcpPort;
    quint16 m_udpPort;
    QProcess m_process;
};

// A device object for the emulator, not yet connected.
inline QSharedPointer<CZun> device(const Sim& sim, const QSharedPointer<CCmdMap>& map, quint32 hardware,
                                   quint32 routing)
{
    auto record = QSharedPointer<ZunDeviceStats>::create(CMacAddr(0x5A756E000000ull | 42));
    record->setFirmware(1080);
    record->setIpAddress(QHostAddress(QHostAddress::LocalHost));
    record->setHardwareInfo(CZunHardwareInfo(hardware));
    record->setRouting(quint16(routing), 0);
    QSharedPointer<CZun> zun(new CZun(record, map, QSharedPointer<CRoutingLibrary>::create(map)));
    zun->SetPort(sim.tcpPort());
    return zun;
}

inline void waitFor(const std::function<bool()>& done, int timeoutMs, const char* what)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            fail(QStringLiteral("time limit reached while waiting for %1").arg(QLatin1String(what)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
}
} // namespace GainPageRig
