#pragma once

#include "CZunHardwareInfo.h"
#include "ZunDeviceStats.h"
#include "ZunStatusBatch.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QHostAddress>
#include <QList>
#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QThread>

#include <atomic>
#include <functional>

class QTimer;

// Registers every type that the discovery object's queued signals and slots carry
// (QSharedPointer<ZunDeviceStats>, CZunHardwareInfo, QList<quint32>, ...). Call before the
// first connection; calling it again does nothing.
void registerDiscoveryMetaTypes();

// The discovery object: finds the processors on every usable IPv4 network by UDP ping
// and announce (port 1234), keeps their records live, asks for status streams, sends
// single UDP commands and runs the ICMP/ARP network scan.
//
// It is a QThread that lives in itself: the UDP socket and the tick timer are created in
// run(), which sends through the socket. A reader thread of its own, started and joined
// by run(), is the only one that reads the socket: it batches the status datagrams and
// hands every other datagram to the discovery thread by a queued call, so that neither
// the discovery thread nor its event loop wakes for a status stream. getDeviceList(),
// masterMute() and scanNetwork() may be called from any thread: the device list is
// behind a mutex, and what must go through the socket is handed to the discovery
// thread by a queued call.
class CZunNetwork : public QThread
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>;

    static constexpr int TickMs = 2000;
    static constexpr qint64 LiveTimeoutMs = 10000;
    static constexpr qint64 StatusQuietMs = 200;
    static constexpr int StatusStreamMs = 2500;
    // While status datagrams arrive, the socket is read and they are handed on every
    // StatusBatchMs, as one batch: the threads that take them wake once for all of them,
    // not for each. A wake-up of the two threads costs more than the datagrams of a batch.
    // It is the meters' frame: a gain page shows each batch as it comes, and its thread
    // wakes for nothing else while the status streams.
    static constexpr int StatusBatchMs = 40;
    // Streams no faster than this (the status monitor's) are batched at their own pace:
    // every record still comes in each batch, and the threads wake 2.5 times less often.
    static constexpr int StatusSlowBatchMs = 100;
    // The batch period while the fastest stream running has this interval (as the reader
    // chooses it: for those who batch alike).
    static constexpr int batchMsFor(int fastestIntervalMs)
    {
        return fastestIntervalMs < StatusSlowBatchMs ? StatusBatchMs : StatusSlowBatchMs;
    }
    // The socket holds what arrives while a batch waits: many processors streaming at
    // once send more in StatusBatchMs than a socket's default buffer holds. Asked of the
    // system, which may give less (net.core.rmem_max).
    static constexpr int ReceiveBufferBytes = 4 * 1024 * 1024;
    // Every datagram this program takes is far shorter.
    static constexpr int MaxDatagram = 2048;
    // Subnets with a shorter prefix are not swept (more than 1022 hosts).
    static constexpr int ScanMinPrefix = 22;
    static constexpr int ScanWaitMs = 1500;

    struct Interface
    {
        int index = 0;          // QNetworkInterface index, as "useNIC" counts
        QString name;
        QHostAddress ip;
        QHostAddress broadcast;
        int prefixLength = 0;
    };

    explicit CZunNetwork(QObject* parent = nullptr);
    ~CZunNetwork() override;

    // A copy of the list of device records; callable from any thread.
    QList<QSharedPointer<ZunDeviceStats>> getDeviceList() const;
    QSharedPointer<ZunDeviceStats> findDevice(quint16 serial) const;

    // The ICMP/ARP sweep of every usable subnet; blocks the calling thread until done.
    void scanNetwork();

    // 0 = every interface; else only the interface with that index.
    void setUseNIC(int interfaceIndex);
    int useNIC() const;

    // The clock of liveness and status timing, in ms; tests inject their own.
    void setClock(Clock clock);
    qint64 now() const;

    // The reader's batch period now: StatusBatchMs while a stream faster than
    // StatusSlowBatchMs may run (one was asked for within StatusStreamMs), else
    // StatusSlowBatchMs.
    int statusBatchMs() const;

    // Every received datagram goes through here (public for tests of the parsing).
    void handleDatagram(const QByteArray& datagram, const QHostAddress& from);
    // Marks every record not live that has given no sign of life (announce, scan reply,
    // status datagram) for LiveTimeoutMs and has no connected control link; live again
    // at the next sign.
    void checkLiveness();

    // The IPv4 interfaces that are up, can broadcast and are not loopback.
    static QList<Interface> usableInterfaces(int useNIC);

public slots:
    // Sends the discovery ping at once and then every TickMs.
    void startBroadcasting();
    void triggerStatusTx(quint16 serial, int msInterval = 20);
    // The same for each processor in turn: one call for many, so that the discovery thread
    // wakes once for them all.
    void triggerStatusTxOf(QList<quint16> serials, int msInterval);
    void sendUdpCmd(QList<quint32> serials, QByteArray datagram);
    // Mutes or unmutes every output of the processor: the master mute of each of its DSPs.
    void masterMute(quint32 serial, bool mute);
    void setHardwareInfo(quint32 serial, CZunHardwareInfo info);

signals:
    void zunDetected(QSharedPointer<ZunDeviceStats> stats);
    void zunNetworkChanged(QSharedPointer<ZunDeviceStats> stats);
    void routingChanged(QSharedPointer<ZunDeviceStats> stats);
    void firmwareChanged(QSharedPointer<ZunDeviceStats> stats);
    // Every valid status datagram of a listed processor, in arrival order; a batch holds
    // those of one StatusBatchMs (one datagram when handleDatagram() is called). Emitted
    // in the reader thread.
    void zunStatusBatchReceived(ZunStatusBatch batch);
    void signal_exception(QString text, QString caption);
    // Another program on this computer holds port 1234: this one listens on port instead.
    void signal_PortHeldElsewhere(quint16 port);
    void timeoutTcpCheck();

protected:
    void run() override;

private slots:
    void on_Tick();

private:
    bool inOwnThread() const { return QThread::currentThread() == this; }
    void openSocket();
    // The reader thread: readLoop() until the wake descriptor is written.
    void readLoop();
    // Waits for a datagram (socketToo) or for the time; false once woken to end.
    bool waitForReader(bool socketToo, int timeoutMs) const;

    // Reads what the socket holds; returns the status datagrams taken into the batch.
    int drain();
    int takeStatus(const char* data, int size, quint32 ipv4, qint64 now);
    void flushStatus();
    void writeTo(const QHostAddress& ip, const QByteArray& datagram);
    void handleAnnounce(const QByteArray& datagram, const QHostAddress& from);
    void handleStatus(const QByteArray& datagram, const QHostAddress& from);
    void handleStatus(const QByteArray& datagram, quint32 ipv4);
    QSharedPointer<ZunDeviceStats> findByAddress(const QHostAddress& ip) const;
    QSharedPointer<ZunDeviceStats> findByAddress(quint32 ipv4) const;
    Interface interfaceFor(const QHostAddress& ip) const;
    void addFromScan(const CMacAddr& mac, const QHostAddress& ip, const Interface& iface);

    mutable QRecursiveMutex m_mutex;            // the list, the clock, the interface choice
    QList<QSharedPointer<ZunDeviceStats>> m_devices;
    // The record last found for an IPv4 address (behind m_mutex; emptied when records move).
    mutable QHash<quint32, QSharedPointer<ZunDeviceStats>> m_byAddress;
    QList<Interface> m_interfaces;
    int m_useNIC = 0;
    Clock m_clock;
    QElapsedTimer m_elapsed;

    // Set up and closed by run(); the descriptor is written by the discovery thread and
    // read by the reader.
    int m_fd = -1;
    int m_wakeFd = -1;

    // Reader thread only.
    ZunStatusBatch m_statusBatch;
    struct ReaderKnown
    {
        QSharedPointer<ZunDeviceStats> record;
        quint16 serial = 0;
        quint64 drain = 0; // the read in which its address was last checked
    };
    QHash<quint32, ReaderKnown> m_readerKnown;
    quint64 m_drains = 0;

    // Discovery thread only.
    QTimer* m_timer = nullptr;
    // The interval last asked of each processor (by serial): the rule against a slower
    // request replacing a running faster stream holds per processor.
    QHash<quint16, int> m_lastInterval;
    // Until when (now()) a stream faster than StatusSlowBatchMs may run; read by the
    // reader.
    std::atomic<qint64> m_fastStreamsUntil {-1};
    // The address last logged as announcing a connected processor's serial (by serial),
    // so that a duplicate is logged once and not at every announce.
    QHash<quint16, QHostAddress> m_duplicates;
    // Senders of announces that cannot be a processor's, each logged once.
    QSet<QHostAddress> m_strayAnnouncers;
};
