#pragma once

#include "CCircularBuffer.h"
#include "CZunCmd.h"
#include "CZunMetaCmd.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>

#include <functional>

// The command buffer of one link: the ring of waiting command groups, the ring of
// received bytes, the framing of the processor's frames and the one command in progress.
// The frame formats are described in docs/protocol.md ("TCP control link").
//
// append() runs in any thread; receive(), abandonAll() run in the link thread. Frames to
// send leave through txDataReady(), finished commands (replies, refusals, unsolicited
// frames and commands the link gave up on) through cmdProcessed(); the link connects
// both queued, so they may be emitted from either thread.
//
// One command is on the wire at a time: the next goes out when the reply to the previous
// one has arrived (a block write also waits for each chunk's acknowledgement). Groups go
// out whole, in the order they came, except that a group goes ahead of the background
// reads waiting before it when it touches none of their words (CZunMetaCmd).
class ZunCmdBuffer : public QObject
{
    Q_OBJECT
public:
    static constexpr int MetaCapacity = 256;
    static constexpr int RxCapacity = 128 * 1024; // more than the longest frame (4 + 65535)
    // How long the processor may take to answer a command, or to acknowledge the next
    // piece of a block write or send the next chunk of a block read.
    static constexpr int DefaultDeadlineMs = 5000;

    explicit ZunCmdBuffer(QObject* parent = nullptr);

    // Queues a group, or replaces a waiting group with the same key (CZunMetaCmd). When
    // the ring is full the group's commands finish as "not sent" and the result is false.
    bool append(const CZunMetaCmd& meta);
    // Finishes every command of the group as "not sent" (used when the link is down).
    void dropAsNotSent(const CZunMetaCmd& meta);

    // Bytes from the socket; every complete frame is handled at once.
    void receive(const QByteArray& bytes);

    // Drops every waiting group and the rest of the group in progress ("not sent"). The
    // command on the wire keeps waiting for its reply, so that both directions of the
    // stream stay in step; so do the bytes of a frame that is partly received.
    void reset();
    // The connection ended (or a new one begins): everything, the command on the wire
    // included, finishes as "not sent", and received bytes are discarded.
    void abandonAll();

    // Longer deadlines for the commands the processor needs time for (by command id). A
    // block transfer's deadline holds for each of its acknowledgements or chunks.
    void setLongDeadlines(const QHash<quint16, int>& byId);
    int deadlineFor(quint16 id) const;
    // The longest block of each kind a block read may announce (by kind; others up to
    // ZunWire::MaxBlockSize). Set before the link runs, read-only after.
    void setBlockLimits(const QHash<quint16, quint32>& byKind);
    quint32 blockLimitFor(quint16 kind) const;
    // Milliseconds until the command on the wire is overdue (0: it is), -1 when none waits.
    qint64 msToDeadline() const;
    // When the command on the wire is overdue, in ms of clockMs(); -1 when none waits.
    qint64 deadlineAt() const;
    qint64 clockMs() const { return m_clock.elapsed(); }
    // When the command on the wire is overdue: finishes it as timed out and the rest of
    // its group as not sent, and returns true. The connection must then be dropped
    // (abandonAll): a late reply would be taken for the next command's. ending runs first,
    // before the late command is reported.
    bool expireOverdue(const std::function<void()>& ending = {});

    bool isIdle() const;
    int waitingGroups() const;
    // Waiting groups that carry a command with this id (a fader's backlog, if it had one).
    int waitingGroupsWith(quint16 id) const;
    // Whether a command with this id is still to be answered: on the wire, later in the
    // group in progress, or waiting.
    bool isPending(quint16 id) const;

signals:
    void txDataReady(QByteArray data);
    void cmdProcessed(CZunCmd cmd);
    // The processor sent what no reply can be (a block longer than any of its kind): the
    // request it answered came back not sent; what follows on the stream cannot be trusted,
    // so the connection is to be dropped (abandonAll) and made again.
    void signal_StreamDamaged(QString reason);

private:
    enum class Stage { Idle, AwaitReply, AwaitBlockStartAck, AwaitChunkAck, AwaitBlockData };

    void startNext();
    // Takes the group to send next out of the ring (its lock held); false when empty.
    bool takeNextGroup(CZunMetaCmd* out);
    void sendCurrent();
    void sendChunk();
    void finishCurrent();
    void dropRestOfGroup();
    void emitNotSent(const CZunMetaCmd& meta, int from = 0);
    void arm(int ms);
    void parseFrames();
    void handleFrame(quint16 id, const QByteArray& payload);
    bool handleRefusal(const QByteArray& payload);
    bool handleBlockAck(const QByteArray& payload);
    bool handleBlockChunk(const QByteArray& payload);
    void handleUnsolicited(quint16 id, const QByteArray& payload);

    mutable QMutex m_ringMutex;          // the ring of waiting groups
    CCircularBuffer<CZunMetaCmd> m_ring;

    mutable QRecursiveMutex m_cmdMutex;  // the group and command in progress, the framing
    CZunMetaCmd m_group;
    int m_index = 0;
    CZunCmd m_cmd;
    Stage m_stage = Stage::Idle;
    quint32 m_offset = 0;                // block write: bytes sent; block read: received
    quint32 m_total = 0;                 // block length
    quint16 m_nextChunk = 0;
    QElapsedTimer m_clock;
    qint64 m_deadline = 0;               // on m_clock, for the stage in progress
    QHash<quint16, int> m_longDeadlines; // set before the link runs, read-only after
    QHash<quint16, quint32> m_blockLimits; // likewise
    CCircularBuffer<char> m_rx;
    QString m_damaged;                   // why the stream is given up, until abandonAll
};
