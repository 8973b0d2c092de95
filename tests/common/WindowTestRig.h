#pragma once
// What the control-window tests share: the device services a window looks its processor up
// in (device server, audio-status server, routing library), a registered device object
// (optionally on an emulated processor on loopback), private settings, and a closer for the
// modal message boxes the window shows. Header-only; link zunwindow (or zunapp).

#include "AudioIOStatus.h"
#include "AudioIOStatusServer.h"
#include "CCmdMap.h"
#include "CZun.h"
#include "CZunServer.h"
#include "DeviceTestRig.h"
#include "RoutingServer.h"
#include "TcpSimProcess.h"
#include "ZunDeviceStats.h"
#include "ZunWindowMetaTypes.h"
#include "ZunSignalSpy.h"

#include <QApplication>
#include <QHostAddress>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <memory>

class WindowTestRig
{
public:
    // Hardware words: a double board with eight outputs (and AES receiver, transmitter and
    // sample-rate converter, so that every input kind is offered), a single board with four.
    static constexpr quint32 DoubleBoard = 0x8F98;
    static constexpr quint32 SingleBoard = 0x0300;
    // Routing words: two sources over eight outputs (RP_21, IR_21); eight sources, one per
    // output (RP_81 with IR_82).
    static constexpr quint16 TwoInputs = 0x1191;
    static constexpr quint16 EightInputs = 0x33 | (0x65 << 7);

    WindowTestRig()
    {
        registerWindowMetaTypes();
        // Modal boxes: note their text and close them.
        QObject::connect(&m_boxCloser, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    m_boxes << box->text();
                    box->done(QMessageBox::Ok);
                }
        });
        m_boxCloser.start(20);
    }
    ~WindowTestRig()
    {
        // The server releases its device objects with deleteLater: delete them now, while
        // the application still runs, so that their threads end with the test.
        m_deviceServer.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_sim.reset();
    }

    // Off while a test or bench answers a box itself: the closer would race its answer
    // and close the box with Ok, which is no answer the box's code acts on.
    void closeBoxes(bool on)
    {
        if (on)
            m_boxCloser.start(20);
        else
            m_boxCloser.stop();
    }

    CZunServer* deviceServer() { return m_deviceServer.get(); }
    AudioIOStatusServer* statusServer() { return &m_statusServer; }
    QSharedPointer<CZun> device(quint16 serial) const { return m_deviceServer->getZun(serial); }
    TcpSimProcess* sim() const { return m_sim.get(); }
    QString configPath() const { return m_config.path(); }

    // Registers a processor with the device services as the main window does (its record
    // points at loopback). With an emulator started before, the device talks to it.
    QSharedPointer<CZun> addDevice(quint16 serial, quint32 hardware = DoubleBoard, quint16 routing = TwoInputs,
                                   quint16 firmware = 1080)
    {
        const QSharedPointer<ZunDeviceStats> record = DeviceTestRig::record(firmware, serial, 0, hardware, routing);
        record->setIpAddress(m_address);
        const QSharedPointer<CCmdMap> map = DeviceTestRig::map(firmware);
        m_routingServer.createLibrary(firmware, map);
        const QSharedPointer<AudioIOStatus> status = m_statusServer.addStatus(record, map);
        m_deviceServer->newCZun(record, map, m_routingServer.getLibrary(firmware));
        const QSharedPointer<CZun> zun = m_deviceServer->getZun(serial);
        if (status)
            status->attachDevice(zun.data());
        if (m_sim)
            zun->SetPort(m_sim->tcpPort());
        return zun;
    }

    // Starts an emulated processor on loopback (extra zunsim options); false with the
    // reason in error().
    bool startSim(quint16 serial, quint32 hardware = DoubleBoard, const QStringList& extra = {})
    {
        m_sim = std::make_unique<TcpSimProcess>();
        return m_sim->start(QStringList {"--serial", QString::number(serial), "--hardware",
                                         QStringLiteral("0x%1").arg(hardware, 0, 16)}
                            + extra);
    }
    QString error() const { return m_sim ? m_sim->error() : QString(); }
    // The address the records of devices added from now on point at (loopback by default).
    void setAddress(const QHostAddress& address) { m_address = address; }

    // The closer of modal boxes runs from the start; a bench that shows none stops it.
    void setBoxCloser(bool on) { on ? m_boxCloser.start(20) : m_boxCloser.stop(); }

    // The texts of the boxes closed so far.
    QStringList takeBoxes()
    {
        const QStringList boxes = m_boxes;
        m_boxes.clear();
        return boxes;
    }

    // Waits for a signal that may have come already.
    static bool waitFor(ZunSignalSpy& spy, int timeoutMs = 20000)
    {
        return spy.size() > 0 || spy.wait(timeoutMs);
    }

private:
    DeviceTestRig::Config m_config;
    RoutingServer m_routingServer;
    AudioIOStatusServer m_statusServer;
    std::unique_ptr<CZunServer> m_deviceServer = std::make_unique<CZunServer>();
    std::unique_ptr<TcpSimProcess> m_sim;
    QHostAddress m_address {QHostAddress::LocalHost};
    QTimer m_boxCloser;
    QStringList m_boxes;
};
