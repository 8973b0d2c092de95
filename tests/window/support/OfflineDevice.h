#pragma once

#include "CEQManager.h"
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunImageDefaults.h"
#include "CZunOutput.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "DeviceTestRig.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

// A device object with eight analog outputs that is not connected: its image is a fresh
// processor's, so its channels exist and EQs and filters can be made and deleted offline.
class OfflineDevice
{
public:
    OfflineDevice()
    {
        qRegisterMetaType<CZunBiquad*>();
        qRegisterMetaType<CZunHighOrderFilter*>();
        auto m = DeviceTestRig::map(1080);
        zun.reset(new CZun(DeviceTestRig::record(1080, 42, 0, 0x0F80), m, QSharedPointer<CRoutingLibrary>::create(m)));
        QMetaObject::invokeMethod(zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        QSignalSpy status(zun.data(), &CZun::signal_ZunStatusChanged);
        zun->GetStatusBuffer()->setImage(CZunImageDefaults::defaultImageBytes(1080));
        if (status.count() == 0)
            status.wait(20000);
        QCoreApplication::processEvents();
    }
    ~OfflineDevice() { zun.reset(); }

    CEQManager* eq() const { return zun->GetEQManager(); }
    CZunOutput* out(int i) const { return zun->GetRoutingManager()->GetOutput(i); }
    quint16 nr(const char* name) const { return zun->GetCmdMap()->getCmdNr(name); }
    // Deleted EQs and filters go at the next deferred delete.
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    QSharedPointer<CZun> zun;
};
