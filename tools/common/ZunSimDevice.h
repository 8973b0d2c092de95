#pragma once

// What the window tools share: an emulated processor (zunsim) on loopback and a device
// object that has connected to it and read its whole image. Settings and the
// configuration folder are the run's own (DeviceTestRig::Config, made before the
// application object), never the user's.
#include "CRoutingLibrary.h"
#include "CZun.h"
#include "DeviceTestRig.h"
#include "TcpSimProcess.h"

#include <functional>

class ZunSimDevice
{
public:
    struct Options
    {
        quint32 hardware = 0x0F80; // two boards, eight analog outputs
        quint16 routingWord = 0;   // 0: the processor's own default
        quint16 serial = 42;
        QString name = QStringLiteral("Stage left");
    };

    // Starts the emulator (ZUNSIM, else the one built beside the tool), connects and waits
    // for the parameter image; false with a reason in error() when that fails.
    bool start(const Options& o) { return launch(o) && connect(); }

    // The first half: the emulator and a device object for it, not yet connected.
    bool launch(const Options& o)
    {
        if (qEnvironmentVariableIsEmpty("ZUNSIM"))
            qputenv("ZUNSIM", ZUNSIM_PATH);
        if (!m_sim.start({"--serial", QString::number(o.serial), "--firmware", "1080", "--hardware",
                          QStringLiteral("0x%1").arg(o.hardware, 0, 16), "--routing", QString::number(o.routingWord),
                          "--name", o.name})) {
            m_error = m_sim.error();
            return false;
        }
        auto map = DeviceTestRig::map(1080);
        auto record = DeviceTestRig::record(1080, o.serial, 0, o.hardware, o.routingWord);
        record->setName(o.name);
        m_zun.reset(new CZun(record, map, QSharedPointer<CRoutingLibrary>::create(map)));
        m_zun->SetPort(m_sim.tcpPort());
        return true;
    }

    // The second half: connects (with how, for example a page's own connect button, else
    // directly) and waits until the device has read the parameter image.
    bool connect(const std::function<void()>& how = {})
    {
        bool loaded = false;
        const QMetaObject::Connection c =
            QObject::connect(m_zun.data(), &CZun::signal_ZunStatusChanged, [&loaded]() { loaded = true; });
        if (how)
            how();
        else
            m_zun->connect();
        const bool ok = DeviceTestRig::waitUntil([&]() { return loaded; }) && DeviceTestRig::settle(m_zun.data());
        QObject::disconnect(c);
        if (!ok)
            m_error = QStringLiteral("the emulated processor sent no parameter image");
        return ok;
    }
    ~ZunSimDevice()
    {
        if (m_zun)
            m_zun->disconnect();
    }

    QSharedPointer<CZun> zun() const { return m_zun; }
    TcpSimProcess& sim() { return m_sim; }
    QString error() const { return m_error; }

private:
    TcpSimProcess m_sim;
    QSharedPointer<CZun> m_zun;
    QString m_error;
};
