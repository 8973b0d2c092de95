#include "CZunServer.h"

#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunFirmwareUpdate.h"
#include "ZunListReport.h"
#include "ZunOperations.h"
#include "ZunDeviceStats.h"
#include "ZunWaitMs.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutexLocker>
#include <QtConcurrent>

namespace {
const char* const NetworkErrorCaption = "ZunControl Network Error";
// How long a firmware update from the list may take: transfer, check and restart.
constexpr int FirmwareLimitMs = 10 * 60 * 1000;
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

QSharedPointer<CZun> CZunServer::connectZun(quint32 serial, Connect how, QString* why, bool* connectedHere)
{
    const QSharedPointer<CZun> zun = getZun(quint16(serial));
    const QString nr = QString::number(quint16(serial));
    auto fail = [&](const QString& text, const QString& reason) {
        qDebug().noquote() << text;
        if (why)
            *why = reason;
        else
            emit signal_information(QLatin1String(NetworkErrorCaption), text);
    };
    if (connectedHere)
        *connectedHere = false;
    if (!zun) {
        fail(QStringLiteral("No Zun nr %1 registered").arg(nr), QStringLiteral("it is not registered."));
        return {};
    }
    qDebug().noquote() << QStringLiteral("Trying to connect to Zun nr %1").arg(nr);
    // A link that is up (a control window's) is kept as it is, its keep-alive too; the
    // keep-alive is the device's, given and taken through its list of operations.
    if (!zun->IsConnected() && how == Connect::Always) {
        zun->connect(false);
    } else if (!zun->IsConnected()) {
        if (connectedHere)
            *connectedHere = true;
        zun->connect(true);
    }
    for (int i = 0; i < m_connectPolls; ++i) {
        ZunWaitMs(100);
        if (zun->IsConnected())
            return zun;
    }
    // Every operation tells the operator, the firmware update too.
    fail(QStringLiteral("Could not connect to Zun nr %1").arg(nr), QStringLiteral("it could not be connected."));
    return {};
}

bool CZunServer::waitUntilReady(const QSharedPointer<CZun>& zun, quint32 serial, QString* why)
{
    QElapsedTimer t;
    t.start();
    while (!zun->IsFIRManagerReady()) {
        if (!zun->IsConnected() || t.elapsed() >= m_readyTimeoutMs) {
            const QString text =
                QStringLiteral("Zun nr %1 did not get ready for the operation (no FIR/limiter data).").arg(quint16(serial));
            qDebug().noquote() << text;
            if (why)
                *why = QStringLiteral("it did not get ready for the operation (no FIR/limiter data).");
            else
                emit signal_information(QLatin1String(NetworkErrorCaption), text);
            return false;
        }
        ZunWaitMs(100);
    }
    return true;
}

QString CZunServer::busyReason(const QString& running)
{
    return QStringLiteral("it is running %1; nothing was sent to it. Try again once that has ended.").arg(running);
}

void CZunServer::doFirmwareUpdate(QList<quint32> serials, QString file)
{
    // One report at the end, also when no control window listens: each processor's update
    // ends once (the device's update object), with its keep-alive given back.
    ZunListReport report(QStringLiteral("Firmware update with %1").arg(QFileInfo(file).fileName()),
                         QStringLiteral("updated"));
    struct End
    {
        QMutex mutex;
        bool ended = false;
        bool done = false;
        QString text;
    };
    struct Update
    {
        quint16 serial;
        QSharedPointer<CZun> zun;
        QSharedPointer<End> end;
        QMetaObject::Connection connection;
        bool connectedHere;
    };
    QList<Update> updates;
    bool busy = false; // a processor was left out for another operation: said in the report
    for (quint32 serial : serials) {
        const QSharedPointer<CZun> known = getZun(quint16(serial));
        const bool wasConnected = known && known->IsConnected();
        // The update reconnects the processor: never under another long operation (the
        // update itself begins alone, and refuses with its end's text what begins meanwhile).
        if (known && !known->GetOperations()->running().isEmpty()) {
            report.notDone(quint16(serial), busyReason(known->GetOperations()->runningTexts().value(0)));
            busy = true;
            continue;
        }
        const QSharedPointer<CZun> zun = connectZun(serial, Connect::Always);
        if (!zun)
            continue;
        qDebug().noquote() << QStringLiteral("Starting update for Zun nr %1").arg(quint16(serial));
        const auto end = QSharedPointer<End>::create();
        const QMetaObject::Connection connection =
            connect(zun->GetFirmwareUpdate(), &ZunFirmwareUpdate::signal_Finished, zun.data(),
                    [end](int outcome, QString text) {
                        QMutexLocker lock(&end->mutex);
                        end->ended = true;
                        end->done = outcome == int(ZunOperation::Outcome::Done);
                        end->text = text;
                    },
                    Qt::DirectConnection);
        updates.append({quint16(serial), zun, end, connection, !wasConnected});
        QtConcurrent::run([zun, file]() {
            try {
                zun->UpdateFirmware(file);
            } catch (const std::exception&) {
                // A refusal is one of the update's ends: in the report.
            }
        });
        ZunWaitMs(2000);
    }
    if (updates.isEmpty()) {
        if (busy)
            emit signal_information(QStringLiteral("ZunControl"), report.text());
        return;
    }
    auto ended = [](const Update& u) {
        QMutexLocker lock(&u.end->mutex);
        return u.end->ended;
    };
    QElapsedTimer t;
    t.start();
    auto pending = [&]() {
        for (const Update& u : qAsConst(updates))
            if (!ended(u))
                return true;
        return false;
    };
    while (pending() && t.elapsed() < FirmwareLimitMs)
        ZunWaitMs(100);
    for (const Update& u : qAsConst(updates)) {
        QObject::disconnect(u.connection);
        QMutexLocker lock(&u.end->mutex);
        if (!u.end->ended)
            report.notDone(u.serial, QStringLiteral("the update did not end within %1 minutes.").arg(FirmwareLimitMs / 60000));
        else if (u.end->done)
            report.done(u.serial);
        else
            report.notDone(u.serial, u.end->text);
    }
    // The links the update made go, once the keep-alive given back has been sent; an open
    // control window keeps its own.
    for (const Update& u : qAsConst(updates)) {
        if (!u.connectedHere || !u.zun->IsConnected())
            continue;
        t.restart();
        while (!u.zun->GetLink()->getCmdBuffer()->isIdle() && u.zun->IsConnected() && t.elapsed() < 5000)
            ZunWaitMs(20);
        u.zun->disconnect();
    }
    emit signal_information(QStringLiteral("ZunControl"), report.text());
}

struct CZunServer::Watch
{
    QMutex mutex;
    enum State { Running, Done, Failed, Unknown } state = Running;
    QString reason;
    QList<QMetaObject::Connection> connections;

    void end(State outcome, const QString& why)
    {
        QMutexLocker lock(&mutex);
        if (state == Running) {
            state = outcome;
            reason = why;
        }
    }
    void finish(bool ok, const QString& why) { end(ok ? Done : Failed, why); }
    // The command that does it got no answer: whether it ran follows from whether it had
    // gone out.
    void unanswered(bool wentOut, const QString& check)
    {
        if (wentOut)
            end(Unknown, QStringLiteral("the link to the processor was lost after the command went out, before its "
                                        "answer. %1")
                             .arg(check));
        else
            end(Failed, QStringLiteral("the link to the processor was lost."));
    }
    State current()
    {
        QMutexLocker lock(&mutex);
        return state;
    }
    ~Watch()
    {
        for (const QMetaObject::Connection& c : qAsConst(connections))
            QObject::disconnect(c);
    }
};

void CZunServer::runWatched(const QSharedPointer<CZun>& zun, const QSharedPointer<Watch>& watch,
                            std::function<void(CZun*)> step)
{
    QtConcurrent::run([zun, watch, step]() {
        try {
            step(zun.data());
        } catch (const std::exception& e) {
            watch->finish(false, QString::fromStdString(e.what()));
        }
    });
}

void CZunServer::finishAll(QList<Running>& running, ZunListReport& report)
{
    QElapsedTimer t, lost;
    t.start();
    // A lost link reports every command it gave up on: the outcome of each part follows
    // within a moment, and tells whether its command had gone out.
    auto pending = [&]() {
        bool waiting = false, connected = false;
        for (const Running& r : qAsConst(running))
            if (r.watch->current() == Watch::Running) {
                waiting = true;
                connected = connected || r.zun->IsConnected();
            }
        if (!waiting)
            return false;
        if (connected) {
            lost.invalidate();
            return true;
        }
        if (!lost.isValid())
            lost.start();
        return lost.elapsed() < m_lostGraceMs;
    };
    while (pending() && t.elapsed() < m_resultTimeoutMs)
        ZunWaitMs(100);
    for (const Running& r : qAsConst(running)) {
        // The part's one end: what it took is given back. Cut by the link, its report tells
        // the loss, and the link's own message for it may come only now.
        const bool connected = r.zun->IsConnected();
        ZunOperation::Outcome outcome = connected ? ZunOperation::Outcome::Refused : ZunOperation::Outcome::LinkLost;
        if (r.watch->current() == Watch::Running) {
            r.watch->finish(false, connected
                                       ? QStringLiteral("the processor did not answer within %1 s.").arg(m_resultTimeoutMs / 1000)
                                       : QStringLiteral("the link to the processor was lost."));
            if (connected)
                outcome = ZunOperation::Outcome::TimedOut;
        }
        if (r.watch->current() == Watch::Done)
            outcome = ZunOperation::Outcome::Done;
        r.operation->finish(outcome);
        switch (r.watch->current()) {
        case Watch::Done:
            report.done(r.serial);
            break;
        case Watch::Unknown:
            report.unknown(r.serial, r.watch->reason);
            break;
        default:
            report.notDone(r.serial, r.watch->reason);
        }
    }
    // Only what the operation connected goes: an open control window keeps its link.
    QList<quint32> connectedHere;
    for (const Running& r : qAsConst(running))
        if (r.connectedHere)
            connectedHere << r.serial;
    doDisconnect(connectedHere);
    running.clear();
}

void CZunServer::runOnList(const QList<quint32>& serials, ZunLongOperation kind, ZunListReport& report,
                           const ListStep& step)
{
    QList<Running> running;
    for (quint32 serial : serials) {
        QString why;
        bool connectedHere = false;
        const QSharedPointer<CZun> zun = connectZun(serial, Connect::WhenDisconnected, &why, &connectedHere);
        if (!zun) {
            report.notDone(quint16(serial), why);
            continue;
        }
        // One long operation at a time on a processor: another's commands would land in the
        // middle of the one running (a recall during a garbage collection's restore).
        QString busy;
        const QSharedPointer<ZunOperation> operation =
            zun->GetOperations()->beginAlone(kind, ZunOperation::LossReport, &busy);
        if (!operation) {
            report.notDone(quint16(serial), busyReason(busy));
            if (connectedHere)
                doDisconnect({serial});
            continue;
        }
        const auto watch = QSharedPointer<Watch>::create();
        // The report names a lost link: the link's own box goes to the log.
        running.append({quint16(serial), zun, watch, connectedHere, operation});
        if (!waitUntilReady(zun, serial, &why)) {
            watch->finish(false, why);
            continue;
        }
        step(serial, zun, watch);
    }
    finishAll(running, report);
    emit signal_information(QStringLiteral("ZunControl"), report.text());
}

void CZunServer::doSetupUpload(QList<quint32> serials, QString file, int position)
{
    ZunListReport report(QStringLiteral("Upload of setup %1 to position %2").arg(QFileInfo(file).fileName()).arg(position),
                         QStringLiteral("stored"));
    runOnList(serials, ZunLongOperation::SetupUpload, report,
              [file, position](quint32 serial, const QSharedPointer<CZun>& zun, const QSharedPointer<Watch>& watch) {
        qDebug().noquote() << QStringLiteral("Starting upload for Zun nr %1").arg(quint16(serial));
        // The store's answer, or a failure the setup manager reports instead. The store is
        // the flash copy of the setup list's entry at the position.
        const QSharedPointer<CCmdMap> map = zun->GetCmdMap();
        const quint16 copy = quint16(map->getCmdNr("CmdS_CopyRxTxBuf2F") + map->getCmdNr("ID_FAI_Ctrl_w_RxTxBuf"));
        const quint16 memCopy = map->getCmdNr("Cmd_MemCopy"), kindWord = map->getCmdNr("Cmd_MemID2"),
                      slotWord = map->getCmdNr("Cmd_MemID0"), setupList = map->getCmdNr("ID_List_Setup");
        CZunStatusBuffer* image = zun->GetStatusBuffer();
        const QWeakPointer<Watch> w = watch;
        watch->connections << connect(image, &CZunStatusBuffer::signal_SetupUploaded, zun.data(),
                                      [w](bool ok, int) {
                                          if (const auto watch = w.toStrongRef())
                                              watch->finish(ok, QStringLiteral("the processor refused the store."));
                                      },
                                      Qt::DirectConnection)
                           << connect(image, &CZunStatusBuffer::signal_Unanswered, zun.data(),
                                      [=](quint16 cmd, quint16 value, bool wentOut) {
                                          // The entry words were answered before the copy
                                          // went out: the image holds them. A copy never sent
                                          // is not told apart from another's: the lost link
                                          // ends the part.
                                          if (!wentOut || cmd != memCopy || value != copy
                                              || image->getValue(kindWord) != setupList
                                              || image->getValue(slotWord) != position)
                                              return;
                                          if (const auto watch = w.toStrongRef())
                                              watch->unanswered(true, QStringLiteral("Check the processor's setup "
                                                                                     "list at that position."));
                                      },
                                      Qt::DirectConnection)
                           << connect(zun.data(), &CZun::signal_exception, zun.data(),
                                      [w](QString text, QString) {
                                          if (const auto watch = w.toStrongRef())
                                              watch->finish(false, text);
                                      },
                                      Qt::DirectConnection);
        zun->UploadSetup(file, position);
    });
}

void CZunServer::doSelectSetup(QList<quint32> serials, quint16 number, QList<quint32> storeFirst)
{
    // The number the operator chose: the form counts positions as the processor does.
    ZunListReport report(QStringLiteral("Recall of setup %1").arg(number), QStringLiteral("recalled"));
    runOnList(serials, ZunLongOperation::SetupRecall, report,
              [this, number, storeFirst](quint32 serial, const QSharedPointer<CZun>& zun, const QSharedPointer<Watch>& watch) {
        if (zun->GetMemoryManager()->setupIdAt(number) == 0) {
            watch->finish(false, QStringLiteral("it holds no setup at that position."));
            return;
        }
        if (storeFirst.contains(serial)) {
            // The recall would discard the changes: it waits for the processor to have
            // stored them.
            const auto stored = QSharedPointer<Watch>::create();
            const QWeakPointer<Watch> s = stored;
            stored->connections << connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_SetupStored, zun.data(),
                                           [s](bool ok) {
                                               if (const auto watch = s.toStrongRef())
                                                   watch->finish(ok, QString());
                                           },
                                           Qt::DirectConnection);
            runWatched(zun, stored, [](CZun* z) { z->SaveSetup(z->GetActiveSetup(), z->GetActiveSetupName()); });
            QElapsedTimer t;
            t.start();
            while (stored->current() == Watch::Running && zun->IsConnected() && t.elapsed() < m_resultTimeoutMs)
                ZunWaitMs(100);
            if (stored->current() != Watch::Done) {
                watch->finish(false, QStringLiteral("the unsaved changes could not be stored first (%1); nothing was "
                                                    "recalled, the changes are kept.")
                                         .arg(stored->reason.isEmpty() ? QStringLiteral("no answer") : stored->reason));
                return;
            }
        }
        const quint16 select = zun->GetCmdMap()->getCmdNr("Cmd_SetupSelect");
        const QWeakPointer<Watch> w = watch;
        watch->connections << connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_Unanswered, zun.data(),
                                      [w, select, number](quint16 cmd, quint16 value, bool wentOut) {
                                          if (cmd != select || value != number)
                                              return;
                                          if (const auto watch = w.toStrongRef())
                                              watch->unanswered(wentOut, QStringLiteral("Check which setup the "
                                                                                        "processor runs."));
                                      },
                                      Qt::DirectConnection)
                           << connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_SetupSelect, zun.data(),
                                      [w](bool ok, int) {
                                          if (const auto watch = w.toStrongRef())
                                              watch->finish(ok, QStringLiteral("the processor refused the recall."));
                                      },
                                      Qt::DirectConnection);
        qDebug().noquote() << QStringLiteral("Selecting Setup %1 at Zun nr %2").arg(number).arg(quint16(serial));
        runWatched(zun, watch, [number](CZun* z) { z->SelectSetup(number); });
    });
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
