#pragma once
// What the end-to-end tests of the advanced tab and its actions share: private settings, an
// emulated processor on loopback (serial 42; by default two boards, firmware 1080) and a device object
// connected to it, with every group it sends recorded, its FIR manager ready and its
// transfers settled. Header-only; link zundevice.

#include "CRoutingLibrary.h"
#include "DeviceTestRig.h"
#include "TcpSimProcess.h"
#include "ZunOperationJournal.h"

#include <QDir>
#include <QFile>

#include <memory>

class SimDeviceRig
{
public:
    static constexpr quint32 DoubleBoard = 0x0F80;

    std::unique_ptr<TcpSimProcess> sim;
    QSharedPointer<CZun> zun;
    DeviceTestRig::SendLog sent;

    // Starts the emulator and connects a new device object with library (none: the
    // firmware's command map alone); false with the reason in *error.
    bool start(const QSharedPointer<CRoutingLibrary>& library, QString* error, quint16 firmware = 1080,
               quint32 hardware = DoubleBoard)
    {
        m_firmware = firmware;
        m_hardware = hardware;
        sim = std::make_unique<TcpSimProcess>();
        if (!sim->start({"--serial", "42", "--firmware", QString::number(firmware), "--hardware",
                         QString::number(hardware)})) {
            *error = sim->error();
            return false;
        }
        zun = newDevice(library);
        sent.attach(zun.data());
        zun->connect(true);
        if (!DeviceTestRig::waitUntil([this]() { return zun->IsFIRManagerReady(); }, 30000)) {
            *error = QStringLiteral("the FIR manager did not become ready");
            return false;
        }
        if (!DeviceTestRig::settleFirstSet(zun.data())) {
            *error = QStringLiteral("the pass-through set did not become active");
            return false;
        }
        return true;
    }
    // A device object for the running emulator, not connected.
    QSharedPointer<CZun> newDevice(const QSharedPointer<CRoutingLibrary>& library) const
    {
        auto device = QSharedPointer<CZun>::create(DeviceTestRig::record(m_firmware, 42, 0, m_hardware),
                                                   library ? library->cmdMap() : DeviceTestRig::map(m_firmware), library);
        device->SetPort(sim->tcpPort());
        device->SetRoutingPauseMs(20);
        return device;
    }
    void stop()
    {
        zun.reset();
        sim.reset();
    }

    quint16 nr(const char* name) const { return zun->GetCmdMap()->getCmdNr(name); }
    // The record of the long operations running that a kill leaves on disk, read now, and
    // put back as the next program finds it: the program has ended, its link is closed and
    // its device object dropped (false when another holder keeps it: drop those first).
    QString operationsRecord() const
    {
        return QDir(m_config.path()).filePath(QStringLiteral("42") + QLatin1String(ZunOperationJournal::Suffix));
    }
    QByteArray readOperationsRecord() const
    {
        QFile file(operationsRecord());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool leaveOperationsRecord(const QByteArray& record)
    {
        zun->disconnect();
        if (!DeviceTestRig::waitUntil([this]() { return !zun->IsConnected(); }))
            return false;
        const QWeakPointer<CZun> ended = zun;
        zun.reset();
        if (!ended.isNull())
            return false;
        QFile file(operationsRecord());
        return file.open(QIODevice::WriteOnly) && file.write(record) == record.size();
    }
    // A new device object connected to the emulator, as the next program's; the texts of the
    // boxes it shows until its lists are read (text: the first that contains it, "" when
    // none does within moments; all: every box until then).
    QString connectNext(const QString& text, QSharedPointer<CZun>* next, QStringList* all = nullptr)
    {
        *next = newDevice({});
        QStringList boxes;
        QObject::connect(next->data(), &CZun::signal_exception, next->data(), [&](QString box, QString) { boxes << box; });
        (*next)->connect(true);
        DeviceTestRig::waitUntil([&]() { return !boxes.filter(text).isEmpty(); }, 30000);
        QObject::disconnect(next->data(), &CZun::signal_exception, next->data(), nullptr);
        if (all)
            *all = boxes;
        return boxes.filter(text).value(0);
    }
    // The emulator's state line ("state firmware 1080 pin 0x1234 ...").
    QString state() const { return sim->query(QStringLiteral("state"), QStringLiteral("state ")); }

private:
    DeviceTestRig::Config m_config;
    quint16 m_firmware = 1080;
    quint32 m_hardware = DoubleBoard;
};
