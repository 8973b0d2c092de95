#pragma once

#include "CZunHardwareInfo.h"
#include "ZunLongOperation.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <functional>

class CCmdMap;
class CRoutingLibrary;
class CZun;
class ZunOperation;
class ZunDeviceStats;
class ZunListReport;

// The device server: creates the device object of every processor that is added, keeps
// them by serial, passes the keep-alive tick on, and runs the long operations that the
// network monitor starts for a list of processors (firmware update, setup upload, setup
// selection, disconnection).
//
// newCZun, updateFirmwareVersion and getZun are called from the GUI thread (so every
// device object lives there); the server itself lives in a manager thread of its own, where
// the do* slots and triggerTcpCheck run, reached queued. The registry is behind a mutex.
// The long operations themselves run on the global thread pool and report their failures
// through the device object's signal_exception.
//
// Failures of the server's own steps (a processor that does not connect, one that is not
// registered, one whose FIR/limiter manager never gets ready) are announced by
// signal_information(caption, text). It is emitted in the manager thread: connect it to a
// GUI-thread object (queued), which shows the information box.
class CZunServer : public QObject
{
    Q_OBJECT
public:
    explicit CZunServer(QObject* parent = nullptr);
    ~CZunServer() override;

    // The registered device object, or null.
    QSharedPointer<CZun> getZun(quint16 serial) const;
    QList<quint16> serials() const;

    // How long a setup upload or selection waits for the FIR/limiter manager of a
    // connected processor (default 30 s); a processor that is still not ready then is
    // reported and skipped.
    void setReadyTimeoutMs(int ms) { m_readyTimeoutMs = ms; }
    // Test seam: the connection polls (default 50 of 100 ms).
    void setConnectPolls(int polls) { m_connectPolls = polls; }
    // How long a setup operation waits for each processor's answer (default 180 s).
    void setResultTimeoutMs(int ms) { m_resultTimeoutMs = ms; }

signals:
    void hardwareInfoUpdated(quint32, CZunHardwareInfo);
    void signal_information(QString caption, QString text);

public slots:
    void newCZun(QSharedPointer<ZunDeviceStats> record, QSharedPointer<CCmdMap> map,
                 QSharedPointer<CRoutingLibrary> library);
    void updateFirmwareVersion(QSharedPointer<ZunDeviceStats> record, QSharedPointer<CCmdMap> map,
                               QSharedPointer<CRoutingLibrary> library);
    void triggerTcpCheck();
    // Ends with one report (signal_information) of each processor's update, once each has
    // ended (its check refused or unanswered, or its restart); the links it made go.
    void doFirmwareUpdate(QList<quint32> serials, QString file);
    // The setup operations end with one report (signal_information) that says, for each
    // processor, what was done or why not. A processor that was connected before (its
    // control window open) stays connected; those the operation connected are disconnected
    // at its end. storeFirst: processors whose unsaved changes are stored as their active
    // setup before the recall (the operator chose Store).
    void doSetupUpload(QList<quint32> serials, QString file, int position);
    void doSelectSetup(QList<quint32> serials, quint16 number, QList<quint32> storeFirst = {});
    void doDisconnect(QList<quint32> serials);

private:
    enum class Connect { Always, WhenDisconnected };
    // Connects the processor by the per-device rule (a link that is up is kept; Always: a
    // new one without the reads of a control window, as the firmware update needs); null when it is not registered or
    // does not connect: reported, or with why set the reason goes there. connectedHere:
    // whether this call made the link.
    QSharedPointer<CZun> connectZun(quint32 serial, Connect how, QString* why = nullptr,
                                    bool* connectedHere = nullptr);
    // Waits for the FIR/limiter manager; false on the time limit or a lost connection
    // (reported, or the reason in why).
    bool waitUntilReady(const QSharedPointer<CZun>& zun, quint32 serial, QString* why = nullptr);
    // One processor's part of a setup operation: how it is going, set from the threads
    // that learn it (first word holds).
    struct Watch;
    struct Running
    {
        quint16 serial;
        QSharedPointer<CZun> zun;
        QSharedPointer<Watch> watch;
        bool connectedHere;
        // Listed for the quit question and the busy tab, holding the loss report, until
        // the part's end in finishAll.
        QSharedPointer<ZunOperation> operation;
    };
    // Waits until every running part has ended, the link of each is lost (and what it
    // gave up on is reported) or the time limit passed, then fills the report and
    // disconnects what the operation connected.
    void finishAll(QList<Running>& running, ZunListReport& report);
    // A setup operation (kind) on each processor of the list: connects it, waits until it
    // is ready, runs the step that starts its part, then waits for every part and reports.
    using ListStep = std::function<void(quint32 serial, const QSharedPointer<CZun>&, const QSharedPointer<Watch>&)>;
    void runOnList(const QList<quint32>& serials, ZunLongOperation kind, ZunListReport& report, const ListStep& step);
    // Runs the step on the global thread pool; what it throws fails the watch.
    static void runWatched(const QSharedPointer<CZun>& zun, const QSharedPointer<Watch>& watch,
                           std::function<void(CZun*)> step);

    // Why a processor that runs another long operation (its text) takes no part.
    static QString busyReason(const QString& running);

    mutable QMutex m_mutex;
    QMap<quint16, QSharedPointer<CZun>> m_registry;
    int m_readyTimeoutMs = 30000;
    int m_connectPolls = 50;
    int m_resultTimeoutMs = 180000;
    int m_lostGraceMs = 2000; // after a lost link, for its outcomes to arrive
};
