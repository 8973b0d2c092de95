#include "ZunBaseComm.h"

#include "ZunDeviceStats.h"

#include "CCmdMap.h"
#include "ZunProtocolMetaTypes.h"
#include "ZunWire.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTcpSocket>

#include <stdexcept>

namespace
{
constexpr int FirmwarePiece = 16384;
}

ZunBaseComm::ZunBaseComm(const QHostAddress& address, quint16 serial, quint16 versionWord,
                         QSharedPointer<CCmdMap> map, QObject* parent)
    : QThread(parent),
      m_address(address),
      m_serial(serial),
      m_firmware(versionWord & 0x0FFF),
      m_revision(versionWord >> 12),
      m_map(std::move(map)),
      m_buffer(this)
{
    registerProtocolMetaTypes();
    // The link is its own thread: its slots, the socket and the framing run there.
    moveToThread(this);
}

ZunBaseComm::ZunBaseComm(const QSharedPointer<ZunDeviceStats>& stats, QSharedPointer<CCmdMap> map,
                         QObject* parent)
    : ZunBaseComm(stats->getIpAddress(), stats->serial(),
                  quint16((stats->firmware() & 0x0FFF) | (stats->revision() << 12)), std::move(map), parent)
{
}

ZunBaseComm::~ZunBaseComm()
{
    quit();
    wait();
}

void ZunBaseComm::run()
{
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &ZunBaseComm::readData, Qt::QueuedConnection);
    connect(m_socket, &QTcpSocket::stateChanged, this, &ZunBaseComm::on_SocketStateChanged, Qt::DirectConnection);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ZunBaseComm::hostError);
    connect(&m_buffer, &ZunCmdBuffer::txDataReady, this, &ZunBaseComm::sendData, Qt::QueuedConnection);
    connect(&m_buffer, &ZunCmdBuffer::cmdProcessed, this, &ZunBaseComm::onCmdProcessed, Qt::QueuedConnection);
    emit signal_SocketCreated();

    exec();

    // A connected socket is closed with the link.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    delete socket;
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
    if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
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
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); // 4-byte frames: no Nagle
    if (connected || state == QAbstractSocket::UnconnectedState) {
        // A new or ended connection: nothing sent earlier can be answered any more. On a
        // new connection the old commands go before the link reports itself connected, or
        // a group another thread sends at once would be dropped with them.
        if (!connected)
            m_connected.store(false);
        m_buffer.abandonAll();
        if (connected)
            m_connected.store(true);
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
    m_socket->write(data);
}

void ZunBaseComm::readData()
{
    if (!m_socket)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    m_buffer.receive(bytes);
    emit signal_TcpDataReceived();
}

void ZunBaseComm::hostError(QAbstractSocket::SocketError)
{
    m_lastError.store(NetworkError);
    emit signal_NetworkError(m_socket ? m_socket->errorString() : QStringLiteral("Socket error"));
}

void ZunBaseComm::onCmdProcessed(CZunCmd cmd)
{
    // A parameter read comes back as the parameter itself, so that it is dispatched like
    // the reply to a write of that parameter.
    if (cmd.getCmd() == ZunWire::ParRead && !cmd.isNotSent())
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
