#pragma once

#include "CZunCmd.h"
#include "CZunMetaCmd.h"
#include "ZunCmdBuffer.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QMutex>
#include <QSharedPointer>
#include <QThread>

#include <atomic>

class CCmdMap;
class QTcpSocket;
class QTimer;
class ZunDeviceStats;

// The TCP control link to one processor (port 5000), a thread of its own. The object is
// its own thread: it moves itself into it, so its slots run there once start() has run
// run(), which creates the socket, wires it and emits signal_SocketCreated().
//
// connectZun()/disconnectZun() are meant for a blocking queued invocation by name.
// sendCmd(), sendMetaCmd(), resetBuffer() and uploadFirmware() run in the caller's
// thread and write into the command buffer; each command comes back exactly once
// through signal_CmdProcessed (see CZunCmd for the outcomes), and so do the frames the
// processor sends unasked.
class ZunBaseComm : public QThread
{
    Q_OBJECT
public:
    enum LastError { NoError = 0, NetworkError = 1, NotConnected = 4, BufferFull = 5 };

    // Reply deadlines of the commands the processor takes long for (docs/protocol.md);
    // every other command has ZunCmdBuffer::DefaultDeadlineMs.
    static constexpr int EraseDeadlineMs = 60000;
    static constexpr int FirmwareCheckDeadlineMs = 30000;
    static constexpr int FlashDeadlineMs = 20000;
    // The kernel's own watch of the control socket: keep-alive probes after this many
    // idle seconds, and a connection whose sent data stays unacknowledged this long ends.
    static constexpr int KeepAliveIdleS = 10;
    static constexpr int UserTimeoutMs = 20000;

    // versionWord: the announce's version word (low 12 bits firmware, top 4 revision).
    ZunBaseComm(const QHostAddress& address, quint16 serial, quint16 versionWord,
                QSharedPointer<CCmdMap> map, QObject* parent = nullptr);
    // The link to a discovered processor: its address, serial and announced version.
    ZunBaseComm(const QSharedPointer<ZunDeviceStats>& stats, QSharedPointer<CCmdMap> map,
                QObject* parent = nullptr);
    ~ZunBaseComm() override;

    // 0 when queued; -1 when the socket is not connected (last error 4) or the command
    // ring is full (last error 5). Commands that are not queued still come back through
    // signal_CmdProcessed, finished as "not sent".
    int sendCmd(quint16 id, quint16 value);
    int sendMetaCmd(const CZunMetaCmd& meta);
    // Drops the waiting commands (finished as "not sent"); see ZunCmdBuffer::reset().
    void resetBuffer();
    // In the link's thread: a read is handing its replies on through signal_CmdProcessed,
    // and signal_TcpDataReceived follows before the event loop runs again.
    bool isReading() const { return m_reading; }
    // Queues the firmware update group for the file. Throws std::logic_error for a missing
    // file and, before anything is queued, for a file too large for the 16-bit words of
    // the group (see docs/protocol.md).
    void uploadFirmware(const QString& file);
    // The file goes in pieces of this size, each copied into the flash on its own.
    static constexpr int FirmwarePieceBytes = 16384;
    // The largest firmware file uploadFirmware() accepts with this command map.
    quint32 maxFirmwareSize() const;

    QTcpSocket* getSocket() const { return m_socket; }
    bool isConnected() const { return m_connected.load(); }
    QHostAddress getIpAddress() const;
    void setIpAddress(const QHostAddress& address);
    quint16 getPort() const { return m_port.load(); }
    void setPort(int port) { m_port.store(quint16(port)); }
    quint16 getSerial() const { return m_serial; }
    quint16 getFirmwareVersion() const { return quint16(m_version.load() >> 16); }
    quint16 getFirmwareRevision() const { return quint16(m_version.load()); }
    // After the processor announced another firmware (the map stays the one built with).
    // The reply dispatcher reads the version in its own thread while the GUI thread sets
    // it: both halves change in one store.
    void setFirmwareVersion(quint16 firmware, quint16 revision)
    {
        m_version.store(quint32(firmware) << 16 | revision);
    }
    int getLastError() const { return m_lastError.load(); }
    // The losses reported so far (signal_NetworkError), each counted before the link is
    // seen down and before it is told.
    quint64 lossesReported() const { return m_lossesReported.load(); }
    // The connections made so far, each counted before the link is seen up: what is told
    // late of a command dropped with an earlier connection is told apart from the current
    // one's.
    quint64 connections() const { return m_connections.load(); }
    QSharedPointer<CCmdMap> getCmdMap() const { return m_map; }
    ZunCmdBuffer* getCmdBuffer() { return &m_buffer; }

public slots:
    void connectZun();
    void disconnectZun();
    void sendData(QByteArray data);
    void readData();
    void hostError(QAbstractSocket::SocketError error);
    void onCmdProcessed(CZunCmd cmd);

signals:
    void signal_CmdProcessed(CZunCmd cmd);
    void signal_NetworkError(QString text);
    void signal_SocketCreated();
    void signal_TcpDataReceived();

protected:
    void run() override;

private slots:
    void on_SocketStateChanged(QAbstractSocket::SocketState state);
    void on_DeadlineCheck();
    // The processor sent what no reply can be: the connection is dropped.
    void on_StreamDamaged(const QString& reason);

private:
    int enqueue(const CZunMetaCmd& meta);
    void armDeadlineCheck();
    void writeNow(const QByteArray& data);
    // A frame the command buffer hands over, in whatever thread it runs.
    void onTxData(const QByteArray& data);
    bool sendFromCaller(QByteArray* data);
    void setCallerFd(int fd);
    void watchSocket();
    // A loss is counted (before the link is seen down), then told.
    void countLoss();
    void reportLoss(const QString& text);

    mutable QMutex m_addressMutex;
    QHostAddress m_address;
    // The discovery record of a discovered processor: its address is taken at each
    // connect (the processor may have moved), and it learns whether the link is up.
    QWeakPointer<ZunDeviceStats> m_record;
    std::atomic<quint16> m_port{5000};
    quint16 m_serial;
    std::atomic<quint32> m_version; // firmware << 16 | revision
    QSharedPointer<CCmdMap> m_map;
    std::atomic<int> m_lastError{NoError};
    std::atomic<quint64> m_lossesReported{0};
    std::atomic<quint64> m_connections{0};
    std::atomic<bool> m_connected{false};
    ZunCmdBuffer m_buffer;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_deadlineTimer = nullptr;   // link thread
    // When the deadline timer fires, in ms of the command buffer's clock; -1 when it does
    // not run. Read by the threads that send commands.
    std::atomic<qint64> m_deadlineDue{-1};
    // A duplicate of the connected socket's descriptor, for frames that a command sent
    // from another thread starts: they go out at once instead of waiting for this thread
    // to wake. Only one frame is ever on its way (the next waits for the answer), so the
    // writers never interleave. Closed by this thread when the connection ends.
    QMutex m_callerFdMutex;
    int m_callerFd = -1;
    bool m_reading = false; // link thread
};
