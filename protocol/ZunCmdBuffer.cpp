#include "ZunCmdBuffer.h"

#include "ZunWire.h"

#include <QDebug>
#include <QMutexLocker>
#include <QtEndian>

namespace
{
quint16 word(const QByteArray& b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }
quint32 dword(const QByteArray& b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
// A command's value as the debug output may show it.
QString shown(const CZunCmd& cmd) { return cmd.isSecret() ? QStringLiteral("(hidden)") : QString::number(cmd.getValue()); }

QByteArray frame(quint16 id, quint16 value)
{
    QByteArray f(ZunWire::HeaderSize, '\0');
    qToLittleEndian<quint16>(id, f.data());
    qToLittleEndian<quint16>(value, f.data() + 2);
    return f;
}
} // namespace

ZunCmdBuffer::ZunCmdBuffer(QObject* parent)
    : QObject(parent), m_ring(MetaCapacity), m_rx(RxCapacity)
{
    m_clock.start();
}

void ZunCmdBuffer::setLongDeadlines(const QHash<quint16, int>& byId)
{
    QMutexLocker lock(&m_cmdMutex);
    m_longDeadlines = byId;
}

int ZunCmdBuffer::deadlineFor(quint16 id) const
{
    return m_longDeadlines.value(id, DefaultDeadlineMs);
}

void ZunCmdBuffer::setBlockLimits(const QHash<quint16, quint32>& byKind)
{
    QMutexLocker lock(&m_cmdMutex);
    m_blockLimits = byKind;
}

quint32 ZunCmdBuffer::blockLimitFor(quint16 kind) const
{
    return qMin(m_blockLimits.value(kind, ZunWire::MaxBlockSize), ZunWire::MaxBlockSize);
}

void ZunCmdBuffer::arm(int ms)
{
    m_deadline = m_clock.elapsed() + ms;
}

qint64 ZunCmdBuffer::msToDeadline() const
{
    QMutexLocker lock(&m_cmdMutex);
    if (m_stage == Stage::Idle)
        return -1;
    return qMax<qint64>(0, m_deadline - m_clock.elapsed());
}

qint64 ZunCmdBuffer::deadlineAt() const
{
    QMutexLocker lock(&m_cmdMutex);
    return m_stage == Stage::Idle ? -1 : m_deadline;
}

bool ZunCmdBuffer::expireOverdue(const std::function<void()>& ending)
{
    QMutexLocker lock(&m_cmdMutex);
    if (m_stage == Stage::Idle || m_clock.elapsed() < m_deadline)
        return false;
    qDebug().noquote() << "ZunCmdBuffer: command" << m_cmd.getCmd() << "value" << shown(m_cmd) << "not answered within"
             << deadlineFor(m_cmd.getCmd()) << "ms";
    m_stage = Stage::Idle;
    const CZunCmd late = m_cmd;
    m_cmd = CZunCmd();
    ++m_index;
    CZunCmd out = late;
    out.setTimedOut();
    if (ending)
        ending();
    emit cmdProcessed(out);
    // What follows in the group acted on the late command's effect; nothing more is sent
    // until the connection has been dropped and made again.
    dropRestOfGroup();
    return true;
}

bool ZunCmdBuffer::append(const CZunMetaCmd& meta)
{
    if (meta.isEmpty())
        return true;
    CZunMetaCmd superseded;
    {
        QMutexLocker lock(&m_ringMutex);
        bool replaced = false;
        for (int i = 0; i < m_ring.size() && !replaced; ++i) {
            CZunMetaCmd& waiting = m_ring.at(i);
            if (waiting.isReplaceable() && waiting.key() == meta.key()) {
                superseded = waiting;
                waiting = meta;
                replaced = true;
            }
        }
        if (replaced) {
            lock.unlock();
            // The replaced group comes back too, once, as superseded.
            for (CZunCmd cmd : superseded.commands()) {
                cmd.setSuperseded();
                emit cmdProcessed(cmd);
            }
        } else if (!m_ring.push(meta)) {
            lock.unlock();
            qDebug() << "ZunCmdBuffer: command ring full, group of" << meta.size() << "commands not sent";
            emitNotSent(meta);
            return false;
        }
    }
    QMutexLocker lock(&m_cmdMutex);
    startNext();
    return true;
}

void ZunCmdBuffer::dropAsNotSent(const CZunMetaCmd& meta)
{
    emitNotSent(meta);
}

void ZunCmdBuffer::emitNotSent(const CZunMetaCmd& meta, int from)
{
    for (int i = from; i < meta.size(); ++i) {
        CZunCmd cmd = meta.commands().at(i);
        cmd.setNotSent();
        emit cmdProcessed(cmd);
    }
}

bool ZunCmdBuffer::isIdle() const
{
    QMutexLocker lock(&m_cmdMutex);
    return m_stage == Stage::Idle;
}

int ZunCmdBuffer::waitingGroups() const
{
    QMutexLocker lock(&m_ringMutex);
    return m_ring.size();
}

int ZunCmdBuffer::waitingGroupsWith(quint16 id) const
{
    QMutexLocker lock(&m_ringMutex);
    int n = 0;
    for (int i = 0; i < m_ring.size(); ++i)
        for (const CZunCmd& c : m_ring.at(i).commands())
            if (c.getCmd() == id) {
                ++n;
                break;
            }
    return n;
}

bool ZunCmdBuffer::isPending(quint16 id) const
{
    QMutexLocker lock(&m_cmdMutex);
    if (m_stage != Stage::Idle && m_cmd.getCmd() == id)
        return true;
    const QList<CZunCmd>& group = m_group.commands();
    for (int i = qMax(0, m_index); i < group.size(); ++i)
        if (group.at(i).getCmd() == id)
            return true;
    return waitingGroupsWith(id) > 0;
}

void ZunCmdBuffer::reset()
{
    QList<CZunMetaCmd> dropped;
    {
        QMutexLocker lock(&m_ringMutex);
        CZunMetaCmd meta;
        while (m_ring.pop(&meta))
            dropped.append(meta);
    }
    for (const CZunMetaCmd& meta : dropped)
        emitNotSent(meta);
    QMutexLocker lock(&m_cmdMutex);
    dropRestOfGroup();
}

void ZunCmdBuffer::abandonAll()
{
    reset();
    QMutexLocker lock(&m_cmdMutex);
    if (m_stage != Stage::Idle) {
        m_stage = Stage::Idle;
        m_cmd.setNotSent();
        emit cmdProcessed(m_cmd);
        m_index = m_group.size();
    }
    m_rx.clear();
    m_damaged.clear();
}

void ZunCmdBuffer::dropRestOfGroup()
{
    // Commands after the one on the wire (or all that remain when none is).
    const int from = m_stage == Stage::Idle ? m_index : m_index + 1;
    emitNotSent(m_group, from);
    m_group = CZunMetaCmd();
    m_index = m_stage == Stage::Idle ? 0 : -1; // -1: finishing the current one ends the group
}

void ZunCmdBuffer::startNext()
{
    if (m_stage != Stage::Idle || !m_damaged.isEmpty())
        return;
    while (m_index < 0 || m_index >= m_group.size()) {
        QMutexLocker lock(&m_ringMutex);
        if (!takeNextGroup(&m_group)) {
            m_group = CZunMetaCmd();
            m_index = 0;
            return;
        }
        m_index = 0;
    }
    m_cmd = m_group.commands().at(m_index);
    sendCurrent();
}

bool ZunCmdBuffer::takeNextGroup(CZunMetaCmd* out)
{
    // The oldest group, unless background reads wait ahead of the oldest of the others:
    // that one goes first when it touches no word of theirs. The operator's edit does not
    // wait behind a hundred setup downloads, and no write overtakes one of the same word.
    for (int i = 0; i < m_ring.size(); ++i) {
        const CZunMetaCmd& group = m_ring.at(i);
        if (group.isBackground())
            continue;
        for (int j = 0; j < i; ++j)
            if (group.touchesWordOf(m_ring.at(j)))
                return m_ring.pop(out);
        m_ring.takeAt(i, out);
        return true;
    }
    return m_ring.pop(out);
}

void ZunCmdBuffer::sendCurrent()
{
    m_cmd.setWentOut();
    if (m_cmd.isBlockTransfer()) {
        m_total = quint32(m_cmd.getPayload().size());
        m_offset = 0;
        QByteArray start = frame(m_cmd.getCmd(), m_cmd.getValue());
        start.resize(ZunWire::BlockStartSize);
        qToLittleEndian<quint32>(m_total, start.data() + ZunWire::HeaderSize);
        m_stage = Stage::AwaitBlockStartAck;
        arm(deadlineFor(m_cmd.getCmd()));
        emit txDataReady(start);
        return;
    }
    if (m_cmd.getCmd() == ZunWire::BlockRead) {
        m_stage = Stage::AwaitBlockData;
        m_offset = 0;
        m_total = 0;
        m_nextChunk = 0;
    } else {
        m_stage = Stage::AwaitReply;
    }
    arm(deadlineFor(m_cmd.getCmd()));
    emit txDataReady(frame(m_cmd.getCmd(), m_cmd.getValue()));
}

void ZunCmdBuffer::sendChunk()
{
    const int n = int(qMin<quint32>(ZunWire::ChunkSize, m_total - m_offset));
    QByteArray chunk = m_cmd.getPayload().mid(int(m_offset), n);
    chunk.resize(n + 2);
    qToLittleEndian<quint16>(ZunWire::byteSum(chunk.constData(), n), chunk.data() + n);
    m_stage = Stage::AwaitChunkAck;
    arm(deadlineFor(m_cmd.getCmd()));
    emit txDataReady(chunk);
}

void ZunCmdBuffer::finishCurrent()
{
    m_stage = Stage::Idle;
    const CZunCmd done = m_cmd;
    m_cmd = CZunCmd();
    ++m_index;
    emit cmdProcessed(done);
    startNext();
}

void ZunCmdBuffer::receive(const QByteArray& bytes)
{
    QMutexLocker lock(&m_cmdMutex);
    if (!m_damaged.isEmpty())
        return; // the rest of a stream given up
    int offset = 0;
    while (offset < bytes.size() && m_damaged.isEmpty()) {
        const int n = m_rx.write(bytes.constData() + offset, bytes.size() - offset);
        offset += n;
        parseFrames();
        if (n == 0 && m_rx.isFull()) { // cannot happen: the ring holds more than one frame
            qDebug() << "ZunCmdBuffer: receive ring full, bytes discarded";
            m_rx.clear();
        }
    }
    if (!m_damaged.isEmpty()) {
        m_rx.clear();
        emit signal_StreamDamaged(m_damaged);
    }
}

void ZunCmdBuffer::parseFrames()
{
    char head[ZunWire::HeaderSize];
    while (m_rx.size() >= ZunWire::HeaderSize && m_damaged.isEmpty()) {
        m_rx.peek(head, ZunWire::HeaderSize);
        const quint16 id = qFromLittleEndian<quint16>(head);
        const quint16 len = qFromLittleEndian<quint16>(head + 2);
        if (m_rx.size() < ZunWire::HeaderSize + len)
            return;
        m_rx.discard(ZunWire::HeaderSize);
        QByteArray payload(len, '\0');
        m_rx.peek(payload.data(), len);
        m_rx.discard(len);
        handleFrame(id, payload);
    }
}

void ZunCmdBuffer::handleFrame(quint16 id, const QByteArray& payload)
{
    if (id == ZunWire::Refusal) {
        // Without the refused value: a late refusal may carry a PIN.
        if (!handleRefusal(payload))
            qDebug() << "ZunCmdBuffer: refusal frame dropped, command"
                     << (payload.size() >= 4 ? int(word(payload, 2)) : -1);
        return;
    }
    switch (m_stage) {
    case Stage::AwaitBlockStartAck:
    case Stage::AwaitChunkAck:
        if (id == ZunWire::BlockWrite) {
            if (!handleBlockAck(payload))
                qDebug() << "ZunCmdBuffer: block acknowledgement dropped:" << payload.toHex(' ');
            return;
        }
        break;
    case Stage::AwaitBlockData:
        if (id == ZunWire::BlockRead && payload.size() >= 2 && word(payload, 0) == m_cmd.getValue()) {
            if (!handleBlockChunk(payload)) {
                // The block can no longer arrive whole: give the request up.
                m_cmd.setNotSent();
                finishCurrent();
            }
            return;
        }
        break;
    case Stage::AwaitReply:
        if (id == m_cmd.getCmd()) {
            const int n = payload.size();
            bool ok;
            if (id == ZunWire::ParRead)
                ok = n == ZunWire::ParReplySize && word(payload, 2) == m_cmd.getValue();
            else if (id == ZunWire::Version)
                ok = n == 2;
            else
                ok = n >= 2 && n <= ZunWire::MaxReplyPayload;
            if (!ok) {
                qDebug().noquote() << "ZunCmdBuffer: malformed reply to command" << id << "dropped:"
                                   << (m_cmd.isSecret() ? QStringLiteral("(hidden)") : QString::fromLatin1(payload.toHex(' ')));
                return;
            }
            m_cmd.setReply(payload);
            m_cmd.setDone();
            finishCurrent();
            return;
        }
        break;
    case Stage::Idle:
        break;
    }
    handleUnsolicited(id, payload);
}

bool ZunCmdBuffer::handleRefusal(const QByteArray& payload)
{
    if (payload.size() != ZunWire::RefusalSize || m_stage == Stage::Idle)
        return false;
    const quint16 id = word(payload, 2);
    const quint16 value = word(payload, 4);
    if (id != m_cmd.getCmd() || value != m_cmd.getValue())
        return false;
    m_cmd.setReply(payload);
    m_cmd.setError();
    const bool blockWrite = m_cmd.isBlockTransfer();
    if (!blockWrite)
        m_cmd.setDone();
    qDebug().noquote() << "ZunCmdBuffer: command" << id << "value" << shown(m_cmd) << "refused, code"
             << QString::number(word(payload, 0), 16);
    if (blockWrite) {
        // What follows a failed block (a flash copy of it, say) must not run.
        m_stage = Stage::Idle;
        const CZunCmd failed = m_cmd;
        m_cmd = CZunCmd();
        ++m_index;
        emit cmdProcessed(failed);
        dropRestOfGroup();
        startNext();
        return true;
    }
    finishCurrent();
    return true;
}

bool ZunCmdBuffer::handleBlockAck(const QByteArray& payload)
{
    if (payload.size() != ZunWire::BlockAckSize || word(payload, 0) != m_cmd.getValue())
        return false;
    const quint32 received = dword(payload, 2);
    const quint32 expected =
        m_stage == Stage::AwaitBlockStartAck ? 0 : m_offset + qMin<quint32>(ZunWire::ChunkSize, m_total - m_offset);
    if (received != expected)
        return false;
    m_offset = received;
    m_cmd.setBytesSent(received);
    if (m_offset == m_total) {
        m_cmd.setReply(payload);
        m_cmd.setDone();
        finishCurrent();
    } else {
        sendChunk();
    }
    return true;
}

bool ZunCmdBuffer::handleBlockChunk(const QByteArray& payload)
{
    const int n = payload.size() - ZunWire::BlockChunkOverhead;
    if (n < 0 || n > ZunWire::ChunkSize) {
        qDebug() << "ZunCmdBuffer: block chunk of" << payload.size() << "bytes dropped";
        return false;
    }
    const quint16 index = word(payload, 2);
    const quint32 total = dword(payload, 4);
    if (index != m_nextChunk || (index > 0 && total != m_total)) {
        qDebug() << "ZunCmdBuffer: block chunk" << index << "out of order, block given up";
        return false;
    }
    if (index == 0) {
        // The length is the processor's word, not ours: a block longer than any of its
        // kind would have the link collect whatever follows, without end.
        const quint32 limit = blockLimitFor(m_cmd.getValue());
        if (total > limit) {
            const QString reason = QStringLiteral("a block read of kind %1 announced %2 bytes, more than the %3 a "
                                                  "block of that kind can have")
                                       .arg(m_cmd.getValue())
                                       .arg(total)
                                       .arg(limit);
            qDebug().noquote() << "ZunCmdBuffer:" << reason << "- damaged reply, block given up";
            m_damaged = reason;
            m_stage = Stage::Idle;
            CZunCmd out = m_cmd;
            m_cmd = CZunCmd();
            ++m_index;
            out.setNotSent();
            emit cmdProcessed(out);
            // Nothing more is sent or read until the connection is made again.
            dropRestOfGroup();
            return true;
        }
        m_total = total;
    }
    if (quint32(n) != qMin<quint32>(ZunWire::ChunkSize, m_total - m_offset)) {
        qDebug() << "ZunCmdBuffer: block chunk" << index << "has a wrong length, block given up";
        return false;
    }
    const char* data = payload.constData() + 8;
    if (ZunWire::byteSum(data, n) != word(payload, 8 + n)) {
        qDebug() << "ZunCmdBuffer: block chunk" << index << "failed its checksum, block given up";
        return false;
    }
    m_cmd.appendReply(QByteArray(data, n));
    m_offset += quint32(n);
    ++m_nextChunk;
    arm(deadlineFor(m_cmd.getCmd())); // for the next chunk
    if (m_offset == m_total) {
        m_cmd.setDone();
        finishCurrent();
    }
    return true;
}

void ZunCmdBuffer::handleUnsolicited(quint16 id, const QByteArray& payload)
{
    // Frames the processor sends unasked: its status word and single-chunk status blocks.
    // Anything else that belongs to no command in progress is dropped.
    if (id == ZunWire::BlockRead) {
        const int n = payload.size() - ZunWire::BlockChunkOverhead;
        if (n < 0 || n > ZunWire::ChunkSize || word(payload, 2) != 0 || dword(payload, 4) != quint32(n)
            || ZunWire::byteSum(payload.constData() + 8, n) != word(payload, 8 + n)) {
            qDebug() << "ZunCmdBuffer: stray or damaged block frame dropped," << payload.size() << "bytes";
            return;
        }
        CZunCmd cmd(id, word(payload, 0));
        cmd.setReply(payload.mid(8, n));
        cmd.setDone();
        emit cmdProcessed(cmd);
        return;
    }
    if (id == ZunWire::BlockWrite || id == ZunWire::ParRead || id == ZunWire::Version) {
        qDebug() << "ZunCmdBuffer: reply" << QString::number(id, 16) << "without a request dropped";
        return;
    }
    if (payload.size() < 2 || payload.size() > ZunWire::MaxReplyPayload) {
        qDebug() << "ZunCmdBuffer: frame" << id << "with" << payload.size() << "payload bytes dropped";
        return;
    }
    CZunCmd cmd(id, word(payload, 0));
    cmd.setReply(payload);
    cmd.setDone();
    emit cmdProcessed(cmd);
}
