#pragma once

// What the window benches share: the program's real control window for an emulated
// processor (zunsim) on loopback, registered with the device services as the main window
// does, and the status streams the window asks for while a gain page is shown: its
// requests go to the emulator and the datagrams back to the audio-status server, as the
// discovery object does it. Settings and folders are the run's own (WindowTestRig).
//
// With the program's own status path (startProgramPath), the requests and the datagrams
// go through a discovery object (CZunNetwork, its thread and its batches) to the status
// server, as in the program: the emulator then listens on the processors' UDP port at an
// address of its own (127.0.0.2), beside the discovery's socket. Run it in a network
// namespace of its own (ZunPrivateNetns), where that port is free and nothing else hears.
#include "AudioIOStatusServer.h"
#include "CZunNetwork.h"
#include "CZunSetupManager.h"
#include "QEditableTabWidget.h"
#include "WindowTestRig.h"
#include "ZunBenchArgs.h"
#include "ZunControlDlg.h"
#include "ZunUdpDatagram.h"

#include <QApplication>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>
#include <functional>
#include <memory>

class ZunLiveWindow
{
public:
    static constexpr quint16 Serial = 301;
    // The emulated processor's address on the program's status path.
    static QHostAddress processorAddress() { return QHostAddress(QStringLiteral("127.0.0.2")); }

    // Starts the emulator with the hardware word and registers the device. False with a
    // reason in error().
    bool start(quint32 hardware)
    {
        if (!startSim(hardware, {}, QHostAddress(QHostAddress::LocalHost)))
            return false;
        m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this]() {
            while (m_socket.hasPendingDatagrams())
                m_rig->statusServer()->setStatusData(Serial, m_socket.receiveDatagram().data());
        });
        return true;
    }

    // The same with the program's status path: a discovery object that lists the emulated
    // processor from its announce and asks for and takes its streams. False with a reason.
    bool startProgramPath(quint32 hardware)
    {
        const QHostAddress address = processorAddress();
        if (!startSim(hardware, {"--bind", address.toString(), "--udp-port", QString::number(ZunUdpDatagram::Port)},
                      address))
            return false;
        registerDiscoveryMetaTypes();
        m_net = std::make_unique<CZunNetwork>();
        QObject::connect(m_net.get(), &CZunNetwork::zunStatusBatchReceived, m_rig->statusServer(),
                         &AudioIOStatusServer::setStatusBatch, Qt::QueuedConnection);
        QObject::connect(m_net.get(), &CZunNetwork::signal_exception, [this](const QString& text) { m_error = text; });
        m_net->start();
        // The processor's announce, as it answers a discovery ping (no ping is broadcast).
        ZunUdpDatagram::Announce announce;
        announce.mac = CMacAddr::fromSerial(Serial);
        announce.versionWord = 1080;
        announce.name = QStringLiteral("Meter bench");
        announce.ip = CIpAddr(address);
        QUdpSocket processor;
        processor.bind(address, 0);
        const bool listed = DeviceTestRig::waitUntil([&]() {
            processor.writeDatagram(ZunUdpDatagram::encodeAnnounce(announce), QHostAddress::LocalHost,
                                    ZunUdpDatagram::Port);
            return bool(m_net->findDevice(Serial));
        });
        if (!listed || !m_error.isEmpty()) {
            m_error = QStringLiteral("the discovery did not list the emulated processor: ") + m_error;
            return false;
        }
        return true;
    }

    // Opens the window (shown, or placed and shown by place, as in a main window's area)
    // without connecting it.
    ZunControlDlg* create(const std::function<void(ZunControlDlg*)>& place = {})
    {
        m_window = std::make_unique<ZunControlDlg>(Serial, m_rig->deviceServer(), m_rig->statusServer());
        m_window->setAttribute(Qt::WA_DeleteOnClose, false);
        QObject::connect(m_window.get(), &ZunControlDlg::statusTxTimeOut, [this](quint16 nr) {
            if (!m_streams)
                return;
            if (CZunNetwork* net = m_net.get())
                QMetaObject::invokeMethod(net, [net, nr]() { net->triggerStatusTx(nr); }, Qt::QueuedConnection);
            else
                m_socket.writeDatagram(ZunUdpDatagram::statusRequest(20, 125), QHostAddress::LocalHost,
                                       m_rig->sim()->udpPort());
        });
        if (place) {
            place(m_window.get());
        } else {
            m_window->resize(1280, 800);
            m_window->show();
        }
        return m_window.get();
    }
    void close() { m_window.reset(); }

    // The window's own connect button; true once the image is shown and the link is idle.
    bool connect()
    {
        bool loaded = false;
        const QMetaObject::Connection c =
            QObject::connect(zun().data(), &CZun::signal_ZunStatusChanged, [&loaded]() { loaded = true; });
        m_window->connectToZun();
        const bool ok = DeviceTestRig::waitUntil([&]() { return loaded && m_window->tabWidget()->count() > 2; })
                        && settle();
        QObject::disconnect(c);
        return ok;
    }

    // The link idle and nothing on its way to or from the flash, then a pause in which the
    // window finishes what it put off.
    bool settle(int pauseMs = 300)
    {
        if (!DeviceTestRig::settleTransfers(zun().data()))
            return false;
        QElapsedTimer t;
        t.start();
        return DeviceTestRig::waitUntil([&]() { return t.elapsed() >= pauseMs; })
               && DeviceTestRig::waitUntil([this]() { return DeviceTestRig::transfersIdle(zun().data()); });
    }

    // Status requests reach the emulator (true) or are dropped (false).
    void setStreams(bool on) { m_streams = on; }

    WindowTestRig& rig() { return *m_rig; }
    ZunControlDlg* window() const { return m_window.get(); }
    QSharedPointer<CZun> zun() const { return m_rig->device(Serial); }
    QString error() const { return m_error; }
    static QString platform() { return QGuiApplication::platformName(); }
    // Only warnings and worse reach the error output: the figures stay readable.
    static void quiet()
    {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type != QtDebugMsg && type != QtInfoMsg && !text.contains(QLatin1String("propagateSizeHints")))
                fprintf(stderr, "%s\n", qPrintable(text));
        });
    }

private:
    bool startSim(quint32 hardware, const QStringList& extra, const QHostAddress& address)
    {
        if (qEnvironmentVariableIsEmpty("ZUNSIM"))
            qputenv("ZUNSIM", ZUNSIM_PATH);
        m_rig = std::make_unique<WindowTestRig>();
        if (!m_rig->startSim(Serial, hardware, extra)) {
            m_error = m_rig->error();
            return false;
        }
        m_rig->setAddress(address);
        m_rig->addDevice(Serial, hardware);
        // The discovery's link check every 2000 ms keeps the idle link alive.
        m_keepAlive.setInterval(2000);
        QObject::connect(&m_keepAlive, &QTimer::timeout, [this]() { zun()->triggerTcpCheck(); });
        m_keepAlive.start();
        return true;
    }

    std::unique_ptr<WindowTestRig> m_rig;
    std::unique_ptr<CZunNetwork> m_net;
    std::unique_ptr<ZunControlDlg> m_window;
    QUdpSocket m_socket;
    QTimer m_keepAlive;
    bool m_streams = true;
    QString m_error;
};

// A window bench's program: settings and folders of its own (made before anything reads
// them), the offscreen platform when no display is named, the application object, and
// only warnings and worse on the error output.
class ZunBenchProgram
{
public:
    ZunBenchProgram(int& argc, char** argv) : m_app(offscreenWithoutDisplay(argc), argv) { ZunLiveWindow::quiet(); }

private:
    static int& offscreenWithoutDisplay(int& argc)
    {
        zunOffscreenWithoutDisplay();
        return argc;
    }

    DeviceTestRig::Config m_config;
    QApplication m_app;
};
