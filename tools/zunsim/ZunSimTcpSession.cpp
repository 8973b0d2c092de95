#include "ZunSimTcpSession.h"

#include "CCmdMap.h"
#include "CZunImageDefaults.h"
#include "ZunSimDevice.h"
#include "ZunWire.h"

#include <QMutexLocker>
#include <QTcpSocket>
#include <QTextStream>
#include <QtEndian>

namespace
{
QByteArray words(std::initializer_list<quint16> list)
{
    QByteArray b;
    for (quint16 w : list) {
        char c[2];
        qToLittleEndian<quint16>(w, c);
        b.append(c, 2);
    }
    return b;
}

// Fallbacks for names the command tables may not define yet.
constexpr quint16 DefaultUnknownCmd = 0xFF81, DefaultRange = 0xFF82, DefaultChecksum = 0xFF83,
                  DefaultBlockSize = 0xFF84, DefaultBusy = 0xFF85;
} // namespace

ZunSimTcpSession::ZunSimTcpSession(QTcpSocket* socket, ZunSimDevice* device, QSharedPointer<CCmdMap> map,
                                   QObject* parent)
    : QObject(parent), m_socket(socket), m_device(device), m_map(std::move(map)), m_ops(device, m_map)
{
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &ZunSimTcpSession::on_IdleTimeout);
    connect(m_socket, &QTcpSocket::readyRead, this, &ZunSimTcpSession::on_ReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    m_holdCheck.setInterval(10);
    connect(&m_holdCheck, &QTimer::timeout, this, [this]() {
        {
            QMutexLocker lock(&m_device->mutex());
            if (m_device->faults().holding)
                return;
        }
        m_holdCheck.stop();
        m_held = false;
        parse();
    });
    updateCloseTime();
}

bool ZunSimTcpSession::recordWordValid(quint16 id, quint16 value) const
{
    // The first word of an EQ or filter record packs several fields; each has its range.
    auto inPool = [this, id](const char* base0, const char* base1, const char* size) {
        const int b0 = num(base0), b1 = num(base1), n = num(size);
        if (n <= 0)
            return -1;
        for (int b : {b0, b1})
            if (b >= 0 && id >= b && id < b + n)
                return (id - b) % 5;
        return -1;
    };
    if (inPool("Inf_DSP0_ParBaseEQ", "Inf_DSP1_ParBaseEQ", "Inf_DSPx_Qty_ParEQ") == 0) {
        const int highest = qMax(num("Inf_Sel_Typ_EQ_AP_12"), num("Inf_Sel_Typ_EQ_AP_6"));
        return highest < 0 || (value & 0x3FFF) <= highest;
    }
    if (inPool("Inf_DSP0_ParBaseFi", "Inf_DSP1_ParBaseFi", "Inf_DSPx_Qty_ParFi") == 0) {
        const int passband = (value >> 12) & 7, channel = (value >> 8) & 0xF, order = (value >> 4) & 0xF;
        return passband <= 2 && channel <= 5 && order <= 10;
    }
    return true;
}

int ZunSimTcpSession::num(const char* name, int fallback) const
{
    return m_map->contains(QLatin1String(name)) ? int(m_map->getCmdNr(name)) : fallback;
}

bool ZunSimTcpSession::faultSilent()
{
    QMutexLocker lock(&m_device->mutex());
    return m_device->faults().silent;
}

void ZunSimTcpSession::updateCloseTime()
{
    const int cmd = num("Cmd_TCPCloseTime");
    quint16 seconds = 0;
    if (cmd >= 0 && cmd < ZunWire::ImageWords) {
        QMutexLocker lock(&m_device->mutex());
        seconds = m_device->image().at(cmd);
    }
    if (seconds == 0) {
        m_idle.stop();
    } else {
        m_idle.setInterval(int(seconds) * 1000);
        m_idle.start();
    }
}

void ZunSimTcpSession::on_IdleTimeout()
{
    QTextStream(stderr) << "zunsim: TCP link idle for the close time, closing it" << Qt::endl;
    m_socket->disconnectFromHost();
}

void ZunSimTcpSession::on_ReadyRead()
{
    const QByteArray bytes = m_socket->readAll();
    if (faultSilent())
        return; // a hung processor: everything is swallowed
    if (m_idle.interval() > 0 && m_idle.isActive())
        m_idle.start();
    m_in.append(bytes);
    parse();
}

void ZunSimTcpSession::parse()
{
    std::function<void()> unit;
    while (!m_deferred && !m_held && extractUnit(&unit)) {
        int delay;
        {
            QMutexLocker lock(&m_device->mutex());
            delay = m_device->faults().replyDelayMs;
        }
        if (delay <= 0) {
            unit();
            continue;
        }
        // A slow processor: it answers (and reads on) only after the delay.
        m_deferred = true;
        QTimer::singleShot(delay, this, [this, unit]() {
            unit();
            m_deferred = false;
            parse();
        });
    }
}

bool ZunSimTcpSession::extractUnit(std::function<void()>* unit)
{
    if (m_stage == Stage::BlockData) {
        const int n = int(qMin<quint32>(ZunWire::ChunkSize, m_blockTotal - quint32(m_block.size())));
        if (m_in.size() < n + 2)
            return false;
        const QByteArray chunk = m_in.left(n);
        const quint16 sum = qFromLittleEndian<quint16>(m_in.constData() + n);
        m_in.remove(0, n + 2);
        *unit = [this, chunk, sum]() { handleChunk(chunk, sum); };
        return true;
    }
    if (m_in.size() < ZunWire::HeaderSize)
        return false;
    const quint16 id = qFromLittleEndian<quint16>(m_in.constData());
    const quint16 value = qFromLittleEndian<quint16>(m_in.constData() + 2);
    if (id == ZunWire::BlockWrite) {
        if (m_in.size() < ZunWire::BlockStartSize)
            return false;
        const quint32 total = qFromLittleEndian<quint32>(m_in.constData() + 4);
        m_in.remove(0, ZunWire::BlockStartSize);
        // The stage changes at once, so that the chunks are read as data even while the
        // start is still being answered slowly.
        if (total > 0 && total <= quint32(ZunSimDevice::TransferBufferSize)) {
            m_stage = Stage::BlockData;
            m_blockValue = value;
            m_blockTotal = total;
            m_block.clear();
        }
        *unit = [this, value, total]() { handleBlockStart(value, total); };
        return true;
    }
    m_in.remove(0, ZunWire::HeaderSize);
    *unit = [this, id, value]() { handleCommand(id, value); };
    return true;
}

void ZunSimTcpSession::reply(quint16 id, const QByteArray& payload)
{
    if (faultSilent() || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (m_dropReply) {
        m_dropReply = false;
        QTextStream(stderr) << "zunsim: dropping the TCP link in place of a reply" << Qt::endl;
        m_socket->abort();
        return;
    }
    QByteArray f(ZunWire::HeaderSize, '\0');
    qToLittleEndian<quint16>(id, f.data());
    qToLittleEndian<quint16>(quint16(payload.size()), f.data() + 2);
    m_socket->write(f + payload);
}

void ZunSimTcpSession::replyWord(quint16 id, quint16 value)
{
    reply(id, words({value}));
}

void ZunSimTcpSession::refuse(quint16 code, quint16 id, quint16 value)
{
    reply(ZunWire::Refusal, words({code, id, value}));
}

void ZunSimTcpSession::announceChange(quint16 cmd)
{
    m_pendingStatus = cmd;
    const int status = num("ID_TX_Status");
    if (status >= 0)
        replyWord(quint16(status), cmd);
}

void ZunSimTcpSession::handleBlockStart(quint16 value, quint32 total)
{
    {
        QMutexLocker lock(&m_device->mutex());
        bool& drop = m_device->faults().dropLinkAtBlock;
        if (drop) {
            drop = false;
            lock.unlock();
            QTextStream(stderr) << "zunsim: dropping the TCP link at a block write" << Qt::endl;
            m_socket->abort();
            return;
        }
    }
    if (total > quint32(ZunSimDevice::TransferBufferSize)) {
        refuse(quint16(num("Msg_ErrBlockLength", DefaultBlockSize)), ZunWire::BlockWrite, value);
        return;
    }
    QByteArray ack = words({value});
    ack.append(4, '\0'); // no bytes received yet
    if (total == 0) {
        QMutexLocker lock(&m_device->mutex());
        m_device->transferBuffer().clear();
        m_ops.blockWritten();
        m_stage = Stage::Command;
    }
    reply(ZunWire::BlockWrite, ack);
}

void ZunSimTcpSession::handleChunk(QByteArray chunk, quint16 sum)
{
    {
        QMutexLocker lock(&m_device->mutex());
        int& corrupt = m_device->faults().corruptBlocks;
        if (corrupt > 0 && !chunk.isEmpty()) {
            chunk[0] = char(chunk[0] ^ 0x5A); // damaged on the way in
            --corrupt;
        }
    }
    if (ZunWire::byteSum(chunk.constData(), chunk.size()) != sum) {
        // The block is thrown away; the client waits for this answer and sends nothing more.
        m_stage = Stage::Command;
        m_block.clear();
        refuse(quint16(num("Msg_ErrChecksum", DefaultChecksum)), ZunWire::BlockWrite, m_blockValue);
        return;
    }
    m_block.append(chunk);
    QByteArray ack = words({m_blockValue});
    ack.append(4, '\0');
    qToLittleEndian<quint32>(quint32(m_block.size()), ack.data() + 2);
    if (quint32(m_block.size()) == m_blockTotal) {
        m_stage = Stage::Command;
        QMutexLocker lock(&m_device->mutex());
        m_device->transferBuffer() = m_block;
        m_ops.blockWritten();
        m_block.clear();
        ZunSimDevice::Faults& f = m_device->faults();
        if (f.holdAtBlock) {
            // The block is in; what the client sends next waits, as it would behind the
            // commands of another client that came first.
            f.holdAtBlock = false;
            f.holding = true;
            m_held = true;
            m_holdCheck.start();
        }
    }
    reply(ZunWire::BlockWrite, ack);
}

void ZunSimTcpSession::sendBlock(quint16 kind, const QByteArray& data)
{
    bool corrupt = false;
    bool huge = false;
    {
        QMutexLocker lock(&m_device->mutex());
        int& left = m_device->faults().corruptBlocks;
        if (left > 0 && !data.isEmpty()) {
            corrupt = true;
            --left;
        }
        huge = m_device->faults().hugeBlock;
        m_device->faults().hugeBlock = false;
    }
    if (huge) {
        // A faulty processor: a length no block can have, and chunks that seem to fill it
        // (as many as a client that believed it would take 2 MiB).
        const QByteArray chunk(ZunWire::ChunkSize, 'h');
        char sum[2];
        qToLittleEndian<quint16>(ZunWire::byteSum(chunk.constData(), chunk.size()), sum);
        for (quint16 index = 0; index < 512; ++index) {
            char header[8];
            qToLittleEndian<quint16>(kind, header);
            qToLittleEndian<quint16>(index, header + 2);
            qToLittleEndian<quint32>(0x80000000u, header + 4);
            reply(ZunWire::BlockRead, QByteArray(header, 8) + chunk + QByteArray(sum, 2));
        }
        return;
    }
    const quint32 total = quint32(data.size());
    quint16 index = 0;
    int at = 0;
    do {
        const int n = qMin(ZunWire::ChunkSize, data.size() - at);
        QByteArray payload(ZunWire::BlockChunkOverhead + n, '\0');
        qToLittleEndian<quint16>(kind, payload.data());
        qToLittleEndian<quint16>(index, payload.data() + 2);
        qToLittleEndian<quint32>(total, payload.data() + 4);
        memcpy(payload.data() + 8, data.constData() + at, size_t(n));
        qToLittleEndian<quint16>(ZunWire::byteSum(data.constData() + at, n), payload.data() + 8 + n);
        if (corrupt && n > 0) {
            payload[8] = char(payload[8] ^ 0x5A); // damaged on the way out
            corrupt = false;
        }
        reply(ZunWire::BlockRead, payload);
        at += n;
        ++index;
    } while (at < data.size());
}

void ZunSimTcpSession::handleCommand(quint16 id, quint16 value)
{
    {
        QMutexLocker lock(&m_device->mutex());
        ZunSimDevice::Faults& f = m_device->faults();
        if (f.dropLink) {
            f.dropLink = false;
            lock.unlock();
            QTextStream(stderr) << "zunsim: dropping the TCP link" << Qt::endl;
            m_socket->abort();
            return;
        }
        if (f.holdReplyCmd == int(id) && (f.holdReplyValue < 0 || f.holdReplyValue == int(value))) {
            // Answered as always; what the client sends after it waits.
            f.holdReplyCmd = -1;
            f.holding = true;
            m_held = true;
            m_holdCheck.start();
        }
        if (f.dropReplyOf == int(id)) {
            f.dropReplyOf = -1;
            m_dropReply = true;
        }
        if (f.refuseCmd == int(id) && (f.refuseValue < 0 || f.refuseValue == int(value))) {
            lock.unlock();
            refuse(quint16(num("Msg_ErrBusy", DefaultBusy)), id, value);
            return;
        }
    }
    const quint16 errRange = quint16(num("Msg_ErrRange", DefaultRange));
    if (id == ZunWire::Version) {
        QMutexLocker lock(&m_device->mutex());
        const quint16 v = m_device->versionWord();
        lock.unlock();
        replyWord(id, v);
        return;
    }
    if (id == ZunWire::ParRead) {
        if (value >= ZunWire::ImageWords) {
            refuse(errRange, id, value);
            return;
        }
        QMutexLocker lock(&m_device->mutex());
        const quint16 v = m_device->image().at(value);
        lock.unlock();
        reply(id, words({v, value}));
        return;
    }
    if (id == ZunWire::BlockRead) {
        QByteArray data;
        ZunSimOperations::Answer answer;
        QMutexLocker opLock(&m_device->mutex());
        const bool ours = m_ops.blockRead(value, &data, &answer);
        opLock.unlock();
        if (ours && answer.refused) {
            refuse(answer.code, id, value);
            return;
        }
        if (ours) {
            // the transfer buffer or an entry's name
        } else if (int(value) == num("ID_Block_DSP_Stat")) {
            const quint16 fw = m_device->identity().firmware;
            data = QByteArray(fw >= 1077 ? 108 : 106, '\0');
            const int at = num("Stat_Status", 1);
            QMutexLocker lock(&m_device->mutex());
            const quint16 status = m_pendingStatus >= 0 ? quint16(m_pendingStatus) : m_device->identity().status;
            m_pendingStatus = -1;
            qToLittleEndian<quint16>(status, data.data() + 2 * at);
        } else {
            refuse(errRange, id, value);
            return;
        }
        sendBlock(value, data);
        return;
    }
    if (int(id) == num("ID_TX_Hardware")) {
        QByteArray p(6, '\0');
        QMutexLocker lock(&m_device->mutex());
        qToLittleEndian<quint32>(m_device->identity().hardwareWord, p.data());
        qToLittleEndian<quint16>(m_device->identity().hardwareExtra, p.data() + 4);
        lock.unlock();
        reply(id, p);
        return;
    }
    if (int(id) == num("ID_TX_Status")) {
        QMutexLocker lock(&m_device->mutex());
        const quint16 s = m_device->identity().status;
        lock.unlock();
        replyWord(id, s);
        return;
    }
    if (id >= ZunWire::ImageWords) {
        refuse(quint16(num("Msg_ErrUnknownCmd", DefaultUnknownCmd)), id, value);
        return;
    }
    if (!recordWordValid(id, value)) {
        refuse(errRange, id, value);
        return;
    }
    int min = 0, max = 0;
    QMutexLocker lock(&m_device->mutex());
    const quint16 fw = m_device->identity().firmware;
    if (CZunImageDefaults::rawRange(fw, id, &min, &max)) {
        const int v = min < 0 ? int(qint16(value)) : int(value);
        if (v < min || v > max) {
            lock.unlock();
            refuse(errRange, id, value);
            return;
        }
    }
    ZunSimOperations::Answer answer;
    if (m_ops.command(id, value, &answer)) {
        if (!answer.refused)
            m_device->noteWatched(id, value);
        lock.unlock();
        if (answer.refused)
            refuse(answer.code, id, value);
        else
            replyWord(id, answer.word);
        return;
    }
    m_device->image()[id] = value;
    // The announce carries the routing word the processor runs.
    if (int(id) == num("Cmd_SPI_Routing"))
        m_device->identity().routingWord = value;
    m_device->noteWatched(id, value);
    lock.unlock();
    if (int(id) == num("Cmd_TCPCloseTime"))
        updateCloseTime();
    replyWord(id, value);
}
