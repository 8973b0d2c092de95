#include "CZunServer.h"

#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "CZun.h"
#include "ZunDeviceStats.h"
#include "ZunWaitMs.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QtConcurrent>

namespace {
const char* const NetworkErrorCaption = "ZunControl Network Error";
}

CZunServer::CZunServer(QObject* parent) : QObject(parent) {}

CZunServer::~CZunServer() = default;

QSharedPointer<CZun> CZunServer::getZun(quint16 serial) const
{
    QMutexLocker lock(&m_mutex);
    return m_registry.value(serial);
}

QList<quint16> CZunServer::serials() const
{
    QMutexLocker lock(&m_mutex);
    return m_registry.keys();
}

void CZunServer::newCZun(QSharedPointer<ZunDeviceStats> record, QSharedPointer<CCmdMap> map,
                         QSharedPointer<CRoutingLibrary> library)
{
    // Released with deleteLater: the last holder may be a task on the thread pool, while
    // the object belongs to the GUI thread.
    QSharedPointer<CZun> zun(new CZun(record, map, library), &QObject::deleteLater);
    zun->SetWorkingDir(QDir::currentPath());
    zun->SetPort(5000);
    zun->SetIpAddress(record->getIpAddress());
    const quint16 serial = record->serial();
    zun->SetNr(serial);
    {
        QMutexLocker lock(&m_mutex);
        m_registry.insert(serial, zun);
    }
    QObject::connect(zun.data(), &CZun::signal_HardwareInfoUpdated, this, &CZunServer::hardwareInfoUpdated);
}

void CZunServer::updateFirmwareVersion(QSharedPointer<ZunDeviceStats> record, QSharedPointer<CCmdMap> map,
                                       QSharedPointer<CRoutingLibrary> library)
{
    const QSharedPointer<CZun> zun = getZun(record->serial());
    if (!zun) {
        qDebug() << "No Zun nr" << record->serial() << "registered for the firmware change";
        return;
    }
    try {
        zun->ReInit(record, map, library);
    } catch (const std::exception& e) {
        emit zun->signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
    }
}

void CZunServer::triggerTcpCheck()
{
    const QList<quint16> keys = serials();
    for (quint16 serial : keys) {
        if (const QSharedPointer<CZun> zun = getZun(serial))
            QMetaObject::invokeMethod(zun.data(), "triggerTcpCheck", Qt::QueuedConnection);
    }
}

QSharedPointer<CZun> CZunServer::connectZun(quint32 serial, Connect how)
{
    const QSharedPointer<CZun> zun = getZun(quint16(serial));
    const QString nr = QString::number(quint16(serial));
    if (!zun) {
        qDebug().noquote() << QStringLiteral("No Zun nr %1 registered").arg(nr);
        emit signal_information(QLatin1String(NetworkErrorCaption), QStringLiteral("No Zun nr %1 registered").arg(nr));
        return {};
    }
    qDebug().noquote() << QStringLiteral("Trying to connect to Zun nr %1").arg(nr);
    if (how == Connect::Always) {
        zun->connect(false);
    } else if (!zun->IsConnected()) {
        zun->EnableTcpCheck(false);
        zun->connect(true);
    }
    for (int i = 0; i < m_connectPolls; ++i) {
        ZunWaitMs(100);
        if (zun->IsConnected())
            return zun;
    }
    const QString text = QStringLiteral("Could not connect to Zun nr %1").arg(nr);
    qDebug().noquote() << text;
    // Every operation tells the operator, the firmware update too.
    emit signal_information(QLatin1String(NetworkErrorCaption), text);
    return {};
}

bool CZunServer::waitUntilReady(const QSharedPointer<CZun>& zun, quint32 serial)
{
    QElapsedTimer t;
    t.start();
    while (!zun->IsFIRManagerReady()) {
        if (!zun->IsConnected() || t.elapsed() >= m_readyTimeoutMs) {
            const QString text =
                QStringLiteral("Zun nr %1 did not get ready for the operation (no FIR/limiter data).").arg(quint16(serial));
            qDebug().noquote() << text;
            emit signal_information(QLatin1String(NetworkErrorCaption), text);
            return false;
        }
        ZunWaitMs(100);
    }
    return true;
}

void CZunServer::runLong(const QSharedPointer<CZun>& zun, std::function<void(CZun*)> operation)
{
    QtConcurrent::run([zun, operation]() {
        try {
            operation(zun.data());
        } catch (const std::exception& e) {
            emit zun->signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
        }
    });
}

void CZunServer::doFirmwareUpdate(QList<quint32> serials, QString file)
{
    for (quint32 serial : serials) {
        const QSharedPointer<CZun> zun = connectZun(serial, Connect::Always);
        if (!zun)
            continue;
        qDebug().noquote() << QStringLiteral("Starting update for Zun nr %1").arg(quint16(serial));
        zun->EnableTcpCheck(false);
        runLong(zun, [file](CZun* z) { z->UpdateFirmware(file); });
        ZunWaitMs(2000);
    }
}

void CZunServer::doSetupUpload(QList<quint32> serials, QString file, int position)
{
    for (quint32 serial : serials) {
        const QSharedPointer<CZun> zun = connectZun(serial, Connect::WhenDisconnected);
        if (!zun)
            continue;
        qDebug().noquote() << QStringLiteral("Starting upload for Zun nr %1").arg(quint16(serial));
        if (!waitUntilReady(zun, serial))
            continue;
        runLong(zun, [file, position](CZun* z) { z->UploadSetup(file, position); });
        ZunWaitMs(2000);
    }
    ZunWaitMs(5000);
    doDisconnect(serials);
}

void CZunServer::doSelectSetup(QList<quint32> serials, quint16 number)
{
    for (quint32 serial : serials) {
        const QSharedPointer<CZun> zun = connectZun(serial, Connect::WhenDisconnected);
        if (!zun)
            continue;
        if (!waitUntilReady(zun, serial))
            continue;
        qDebug().noquote() << QStringLiteral("Selecting Setup %1 at Zun nr %2").arg(number).arg(quint16(serial));
        runLong(zun, [number](CZun* z) { z->SelectSetup(number); });
        ZunWaitMs(100);
    }
    ZunWaitMs(5000);
    doDisconnect(serials);
}

void CZunServer::doDisconnect(QList<quint32> serials)
{
    for (quint32 serial : serials) {
        const QSharedPointer<CZun> zun = getZun(quint16(serial));
        if (!zun)
            continue;
        qDebug().noquote() << QStringLiteral("Disconnecting from Zun nr %1").arg(quint16(serial));
        if (zun->IsConnected())
            zun->disconnect();
    }
}
