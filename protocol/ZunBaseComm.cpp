#include "ZunBaseComm.h"

#include "ZunDeviceStats.h"

#include "CCmdMap.h"
#include "ZunProtocolMetaTypes.h"
#include "ZunWire.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QScopedValueRollback>
#include <QTcpSocket>
#include <QTimer>

#include <limits>
#include <stdexcept>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace
{
constexpr int FirmwarePiece = ZunBaseComm::FirmwarePieceBytes;
}

ZunBaseComm::ZunBaseComm(const QHostAddress& address, quint16 serial, quint16 versionWord,
                         QSharedPointer<CCmdMap> map, QObject* parent)
    : QThread(parent),
      m_address(address),
      m_serial(serial),
      m_version(quint32(versionWord & 0x0FFF) << 16 | (versionWord >> 12)),
      m_map(std::move(map)),
      m_buffer(this)
{
    registerProtocolMetaTypes();
    QHash<quint16, int> longer;
    const auto add = [&](const char* name, int ms) {
        if (m_map->contains(QLatin1String(name)))
            longer.insert(m_map->getCmdNr(name), ms);
    };
    add("Cmd_BulkEraseF", EraseDeadlineMs);
    add("Cmd_CheckFirmware", FirmwareCheckDeadlineMs);
    for (const char* name : {"Cmd_MemCopy", "Cmd_SetupStore", "Cmd_SetupSelect", "Cmd_DSP_Boot",
                             "Cmd_0_DSP_LoadKoef", "Cmd_1_DSP_LoadKoef"})
        add(name, FlashDeadlineMs);
    m_buffer.setLongDeadlines(longer);
    // Status records and entry names come in one chunk; the flash blocks may fill the
    // transfer buffer.
    QHash<quint16, quint32> blocks;
    if (m_map->contains(QStringLiteral("ID_Block_DSP_Stat")))
        blocks.insert(m_map->getCmdNr("ID_Block_DSP_Stat"), ZunWire::ChunkSize);
    if (m_map->contains(QStringLiteral("ID_Block_SetupName")))
        blocks.insert(m_map->getCmdNr("ID_Block_SetupName"), ZunWire::ChunkSize);
    m_buffer.setBlockLimits(blocks);
    // The link is its own thread: its slots, the socket and the framing run there.
    moveToThread(this);
}

ZunBaseComm::ZunBaseComm(const QSharedPointer<ZunDeviceStats>& stats, QSharedPointer<CCmdMap> map,
                         QObject* parent)
    : ZunBaseComm(stats->getIpAddress(), stats->serial(),
                  quint16((stats->firmware() & 0x0FFF) | (stats->revision() << 12)), std::move(map), parent)
{
    m_record = stats;
}

ZunBaseComm::~ZunBaseComm()
{
    quit();
    wait();
    if (const QSharedPointer<ZunDeviceStats> record = m_record.toStrongRef())
        record->setLinkConnected(false);
}

void ZunBaseComm::run()
{
    m_socket = new QTcpSocket(this);
    m_deadlineTimer = new QTimer(this);
    m_deadlineTimer->setSingleShot(true);
    connect(m_deadlineTimer, &QTimer::timeout, this, &ZunBaseComm::on_DeadlineCheck);
    // Everything that starts in this thread is handled at once, without another pass of
    // the event loop: the answer that completes a chunk sends the next one in the same
    // pass. Frames and results from other threads (sendCmd, resetBuffer) come queued.
    connect(m_socket, &QTcpSocket::readyRead, this, &ZunBaseComm::readData, Qt::DirectConnection);
    connect(m_socket, &QTcpSocket::stateChanged, this, &ZunBaseComm::on_SocketStateChanged, Qt::DirectConnection);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ZunBaseComm::hostError);
    connect(&m_buffer, &ZunCmdBuffer::txDataReady, this, &ZunBaseComm::onTxData, Qt::DirectConnection);
    connect(&m_buffer, &ZunCmdBuffer::cmdProcessed, this, &ZunBaseComm::onCmdProcessed, Qt::AutoConnection);
    connect(&m_buffer, &ZunCmdBuffer::signal_StreamDamaged, this, &ZunBaseComm::on_StreamDamaged, Qt::DirectConnection);
    emit signal_SocketCreated();

    exec();

    // A connected socket is closed with the link.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    setCallerFd(-1);
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    delete socket;
    delete m_deadlineTimer;
    m_deadlineTimer = nullptr;
}

QHostAddress ZunBaseComm::getIpAddress() const
{
    QMutexLocker lock(&m_addressMutex);
    return m_address;
}

void ZunBaseComm::setIpAddress(const QHostAddress& address)
{
    QMutexLocker lock(&m_addressMutex);
    m_address = address;
}

void ZunBaseComm::connectZun()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    // Discovery follows a processor that changed its address (a new address set by the
    // operator, DHCP) while no link was up: connect where it announces itself now.
    if (const QSharedPointer<ZunDeviceStats> record = m_record.toStrongRef()) {
        const QHostAddress announced = record->getIpAddress();
        if (!announced.isNull() && announced != getIpAddress()) {
            qDebug().noquote() << QStringLiteral("ZunBaseComm: Zun %1 now at %2 (was %3)")
                                      .arg(m_serial)
                                      .arg(announced.toString(), getIpAddress().toString());
            setIpAddress(announced);
        }
    }
    m_socket->connectToHost(getIpAddress(), getPort(), QIODevice::ReadWrite);
}

void ZunBaseComm::disconnectZun()
{
    if (!m_socket)
        return;
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->disconnectFromHost();
    // A connection still being made is given up: it must not complete after the
    // disconnection was asked for.
    else if (m_socket->state() == QAbstractSocket::HostLookupState
             || m_socket->state() == QAbstractSocket::ConnectingState)
        m_socket->abort();
}

void ZunBaseComm::on_SocketStateChanged(QAbstractSocket::SocketState state)
{
    const bool connected = state == QAbstractSocket::ConnectedState;
    if (connected)
        watchSocket();
    if (connected || state == QAbstractSocket::UnconnectedState)
        setCallerFd(connected ? int(m_socket->socketDescriptor()) : -1);
    if (connected || state == QAbstractSocket::UnconnectedState) {
        // A new or ended connection: nothing sent earlier can be answered any more. On a
        // new connection the old commands go before the link reports itself connected, or
        // a group another thread sends at once would be dropped with them.
        if (!connected)
            m_connected.store(false);
        m_buffer.abandonAll();
        if (connected) {
            ++m_connections;
            m_connected.store(true);
        }
        if (const QSharedPointer<ZunDeviceStats> record = m_record.toStrongRef())
            record->setLinkConnected(connected);
    }
}

int ZunBaseComm::enqueue(const CZunMetaCmd& meta)
{
    if (!isConnected()) {
        m_lastError.store(NotConnected);
        m_buffer.dropAsNotSent(meta);
        return -1;
    }
    if (!m_buffer.append(meta)) {
        m_lastError.store(BufferFull);
        return -1;
    }
    return 0;
}

int ZunBaseComm::sendCmd(quint16 id, quint16 value)
{
    return enqueue(CZunMetaCmd(id, value));
}

int ZunBaseComm::sendMetaCmd(const CZunMetaCmd& meta)
{
    return enqueue(meta);
}

void ZunBaseComm::resetBuffer()
{
    m_buffer.reset();
}

void ZunBaseComm::sendData(QByteArray data)
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        // The connection went away while the frame was on its way to us.
        m_buffer.abandonAll();
        return;
    }
    writeNow(data);
    armDeadlineCheck();
}

void ZunBaseComm::setCallerFd(int fd)
{
    QMutexLocker lock(&m_callerFdMutex);
    if (m_callerFd >= 0)
        ::close(m_callerFd);
    m_callerFd = -1;
#ifdef Q_OS_LINUX
    if (fd >= 0)
        m_callerFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
#else
    Q_UNUSED(fd)
#endif
}

void ZunBaseComm::onTxData(const QByteArray& data)
{
    if (QThread::currentThread() == this) {
        sendData(data);
        return;
    }
    QByteArray rest = data;
    if (sendFromCaller(&rest)) {
        // On the wire. The deadline's timer is this thread's to set; while commands follow
        // one another it keeps running (see on_DeadlineCheck), and this thread is woken to
        // set it only when it does not run or would look too late for this command.
        const qint64 due = m_buffer.deadlineAt();
        const qint64 watch = m_deadlineDue.load();
        if (due >= 0 && (watch < 0 || due < watch))
            QMetaObject::invokeMethod(this, &ZunBaseComm::armDeadlineCheck, Qt::QueuedConnection);
        return;
    }
    // What could not be written at once (all of it when not connected) goes through
    // this thread, which also finds and reports a failed connection.
    QMetaObject::invokeMethod(this, "sendData", Qt::QueuedConnection, Q_ARG(QByteArray, rest));
}

bool ZunBaseComm::sendFromCaller(QByteArray* data)
{
#ifdef Q_OS_LINUX
    QMutexLocker lock(&m_callerFdMutex);
    if (m_callerFd < 0)
        return false;
    const ssize_t n = ::send(m_callerFd, data->constData(), size_t(data->size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == data->size())
        return true;
    if (n > 0)
        data->remove(0, int(n));
#else
    Q_UNUSED(data)
#endif
    return false;
}

void ZunBaseComm::writeNow(const QByteArray& data)
{
#ifdef Q_OS_LINUX
    // One system call: the socket's own write buffers the frame and arms a notifier (the
    // event loop is woken to do so, and again to disarm it). Only when nothing of an
    // earlier frame is still buffered there, or order would be lost.
    if (m_socket->bytesToWrite() == 0) {
        const ssize_t n = ::send(int(m_socket->socketDescriptor()), data.constData(), size_t(data.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == data.size())
            return;
        if (n > 0) {
            m_socket->write(data.constData() + n, data.size() - n); // the rest when there is room
            return;
        }
        // Errors (EAGAIN included) are the socket's to find and report.
    }
#endif
    m_socket->write(data);
    m_socket->flush();
}

void ZunBaseComm::watchSocket()
{
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); // 4-byte frames: no Nagle
    // A processor whose cable is pulled sends neither FIN nor RST; while the link waits
    // for a long operation, or idles with the keep-alive off, only the kernel can notice.
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = int(m_socket->socketDescriptor());
    const int idle = KeepAliveIdleS, interval = 2, count = 3, userTimeout = UserTimeoutMs;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0
        || ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0
        || ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) != 0
        || ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout) != 0)
        qDebug() << "ZunBaseComm: cannot set the keep-alive options of the control socket";
#endif
}

void ZunBaseComm::armDeadlineCheck()
{
    const qint64 left = m_buffer.msToDeadline();
    if (left < 0 || !m_deadlineTimer)
        return;
    // An earlier, longer deadline may still be set: the nearer one counts.
    if (!m_deadlineTimer->isActive() || m_deadlineTimer->remainingTime() > left) {
        m_deadlineTimer->start(int(left));
        m_deadlineDue.store(m_buffer.clockMs() + left);
    }
}

void ZunBaseComm::on_DeadlineCheck()
{
    // The timer stops here unless a command waits; marked stopped first, so that a command
    // sent from another thread meanwhile either finds it stopped (and asks for it) or is
    // seen waiting below.
    m_deadlineDue.store(-1);
    if (m_buffer.msToDeadline() != 0) {
        armDeadlineCheck(); // answered meanwhile (none waits: the timer stays off), or a later deadline now
        return;
    }
    // The link ends here. It says so before the late command is reported: whoever hears
    // of that failure (another thread too) must find the link down, not open for a moment
    // longer, or it takes the loss for a refusal on a live link.
    if (!m_buffer.expireOverdue([this]() {
            countLoss();
            m_connected.store(false);
        }))
        return;
    m_lastError.store(NetworkError);
    // As after any loss: the connection ends (everything still waiting comes back as not
    // sent) and may be made again.
    if (m_socket)
        m_socket->abort();
    reportLoss(
        QStringLiteral("Zun nr. %1 did not answer in time; the connection was closed.").arg(m_serial));
}

void ZunBaseComm::on_StreamDamaged(const QString& reason)
{
    m_lastError.store(NetworkError);
    countLoss();
    // As after an overdue answer: the connection ends and may be made again.
    if (m_socket)
        m_socket->abort();
    reportLoss(
        QStringLiteral("Zun nr. %1 sent a damaged reply (%2); the connection was closed.").arg(m_serial).arg(reason));
}

void ZunBaseComm::readData()
{
    if (!m_socket)
        return;
    // What the socket holds, in an array of that size: readAll sizes its array for 16 KiB
    // first, a large allocation (and a sweep of the heap's small free blocks) per reply.
    const qint64 available = m_socket->bytesAvailable();
    if (available <= 0)
        return;
    QByteArray bytes(int(qMin<qint64>(available, std::numeric_limits<int>::max())), Qt::Uninitialized);
    const qint64 n = m_socket->read(bytes.data(), bytes.size());
    if (n <= 0)
        return;
    bytes.truncate(int(n));
    const QScopedValueRollback<bool> reading(m_reading, true);
    m_buffer.receive(bytes);
    emit signal_TcpDataReceived();
}

void ZunBaseComm::hostError(QAbstractSocket::SocketError)
{
    m_lastError.store(NetworkError);
    // The socket's own words name no processor: several may be connected.
    const QString why = m_socket ? m_socket->errorString() : QStringLiteral("Socket error");
    const QString text = (m_connected.load() ? QStringLiteral("The connection to Zun nr. %1 was lost: %2.")
                                             : QStringLiteral("Zun nr. %1 could not be reached: %2."))
                             .arg(m_serial)
                             .arg(why);
    countLoss();
    // The connection ends here, in this thread, before the loss is told: the owner's
    // handling of the report may come after a reconnect, and must find nothing to end.
    if (m_socket && m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    reportLoss(text);
}

void ZunBaseComm::countLoss()
{
    // Counted before the link is seen down: a step that finds it gone can tell the loss
    // has its own report, which follows.
    ++m_lossesReported;
}

void ZunBaseComm::reportLoss(const QString& text)
{
    emit signal_NetworkError(text);
}

void ZunBaseComm::onCmdProcessed(CZunCmd cmd)
{
    // A parameter read comes back as the parameter itself, so that it is dispatched like
    // the reply to a write of that parameter.
    if (cmd.getCmd() == ZunWire::ParRead && !cmd.gotNoReply())
        cmd.setCmd(cmd.getValue(), cmd.replyWord());
    emit signal_CmdProcessed(cmd);
}

quint32 ZunBaseComm::maxFirmwareSize() const
{
    // "Cmd_CheckFirmware" carries size / 2 in 16 bits; piece p adds p << 4 to the low byte
    // of "CmdS_CopyRxTxBuf2F_Raw", which must stay in that byte.
    const quint32 bySize = 2u * 0xFFFFu + 1u;
    const quint16 raw = m_map->getCmdNr("CmdS_CopyRxTxBuf2F_Raw");
    const quint32 pieces = (0xFFu - (raw & 0xFFu)) / 16u + 1u;
    return qMin(bySize, pieces * FirmwarePiece);
}

void ZunBaseComm::uploadFirmware(const QString& file)
{
    QFile f(file);
    if (!QFileInfo::exists(file) || !f.open(QIODevice::ReadOnly))
        throw std::logic_error(QStringLiteral("Load Setup: File: %1 not found. Aborting.").arg(file).toStdString());
    const QByteArray data = f.readAll();
    const quint32 max = maxFirmwareSize();
    if (data.isEmpty())
        throw std::logic_error(
            QStringLiteral("ZunBaseComm::uploadFirmware(): File %1 is empty. Aborting.").arg(file).toStdString());
    if (quint32(data.size()) > max)
        throw std::logic_error(QStringLiteral("ZunBaseComm::uploadFirmware(): File %1 has %2 bytes; "
                                              "a firmware file may have at most %3. Aborting.")
                                   .arg(file).arg(data.size()).arg(max).toStdString());

    const CCmdMap& map = *m_map;
    CZunMetaCmd meta;
    if (map.contains(QStringLiteral("Cmd_TCPCloseTime")))
        meta.appendCmd(map.getCmdNr("Cmd_TCPCloseTime"), 0);
    meta.appendCmd(map.getCmdNr("Cmd_BulkEraseF"),
                   map.contains(QStringLiteral("Inf_EraseOnly128K")) ? map.getCmdNr("Inf_EraseOnly128K") : 0);
    const quint16 blockId = map.getCmdNr("ID_RX_Block_Start");
    const quint16 memCopy = map.getCmdNr("Cmd_MemCopy");
    const quint16 raw = map.getCmdNr("CmdS_CopyRxTxBuf2F_Raw");
    for (int p = 0, at = 0; at < data.size(); ++p, at += FirmwarePiece) {
        const QByteArray piece = data.mid(at, FirmwarePiece);
        meta.appendCmd(blockId, quint16(piece.size()), piece);
        meta.appendCmd(memCopy, quint16(raw + (p << 4)));
    }
    meta.appendCmd(map.getCmdNr("Cmd_CheckFirmware"), quint16(data.size() / 2));
    enqueue(meta);
    qDebug().noquote() << QStringLiteral("FW update commands enqueued for Zun nr. %1").arg(m_serial, 10);
}
