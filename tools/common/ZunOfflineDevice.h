#pragma once

#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "CZun.h"
#include "CZunImageDefaults.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunDeviceStats.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QSettings>
#include <QSharedPointer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

// Settings and files of a tool's own, never the user's: made before the application object,
// told the configuration folder after it.
class ZunToolHome
{
public:
    ZunToolHome()
    {
        qputenv("HOME", m_home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
    }
    void storeConfigDir() const
    {
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).setValue("ConfigDir", m_home.path());
    }

private:
    QTemporaryDir m_home;
};

// For the window tools: a device object (firmware 1080, eight analog outputs) holding a
// fresh processor's image, not connected; its channels exist once this returns.
inline QSharedPointer<CZun> zunOfflineDevice()
{
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(1080);
    auto record = QSharedPointer<ZunDeviceStats>::create(CMacAddr(0x5A756E00002Aull));
    record->setFirmware(1080);
    record->setIpAddress(QHostAddress(QHostAddress::LocalHost));
    record->setHardwareInfo(CZunHardwareInfo(0x0F80));
    QSharedPointer<CZun> zun(new CZun(record, map, QSharedPointer<CRoutingLibrary>::create(map)));
    QMetaObject::invokeMethod(zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
    QEventLoop loop;
    bool loaded = false;
    QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, &loop, [&]() {
        loaded = true;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    zun->GetStatusBuffer()->setImage(CZunImageDefaults::defaultImageBytes(1080));
    if (!loaded)
        loop.exec();
    return zun;
}
