#pragma once

#include <QByteArray>
#include <QMetaType>

// One command of the TCP control link: a 16-bit id and value, an optional payload (which
// makes it a block transfer to the processor), and what came back: the reply payload, the
// transfer counters and the outcome.
//
// Outcomes, exactly one of them once the link is finished with the command:
// - done: a complete reply arrived (an ordinary command on its reply or refusal frame, a
//   block write on its end acknowledgement, a block read on its last chunk);
// - error: the processor refused the command (refusal frame, id 0xFFFF); the reply then
//   begins with the processor's error code. A refused ordinary command is also done;
// - not sent: the link gave up on the command before a valid reply could arrive (not
//   connected, full ring, resetBuffer, the rest of a group after a failed block, the
//   connection ended while it waited, or a block read whose data arrived damaged).
//   Nothing about the processor can be concluded from it.
// - timed out: the command was on the wire and its reply (or the next acknowledgement of
//   a block transfer) did not arrive within its deadline; the link then dropped the
//   connection. bytesSent() tells how much of a block the processor acknowledged.
// - superseded: the group waited and a later group with the same key took its place; the
//   later group carries the command to the processor.
// Receivers act only on done and error: gotNoReply() covers the three others. Of a
// command that got no reply, wentOut() tells whether its frame had gone to the processor
// (timed out, or the connection ended while it waited): then whether the processor ran
// it is not known, where one never sent certainly did not run.
class CZunCmd
{
public:
    CZunCmd() = default;
    CZunCmd(quint16 id, quint16 value, const QByteArray& payload = QByteArray());

    quint16 getCmd() const { return m_id; }
    quint16 getValue() const { return m_value; }
    const QByteArray& getPayload() const { return m_payload; }
    bool isBlockTransfer() const { return !m_payload.isEmpty() || m_block; }
    // The value is a secret (a PIN): the link and the device never write it to any output.
    bool isSecret() const { return m_secret; }
    void setSecret() { m_secret = true; }
    // The reply frame without its 4-byte header; for a block read the block's data.
    QByteArray getReply() const { return m_reply; }
    // The first reply word (little-endian), or 0 when the reply is shorter than a word.
    quint16 replyWord() const;

    bool isDone() const { return m_done; }
    bool isError() const { return m_error; }
    bool isNotSent() const { return m_notSent; }
    bool isTimedOut() const { return m_timedOut; }
    bool isSuperseded() const { return m_superseded; }
    // Not sent, timed out or superseded: nothing came back from the processor.
    bool gotNoReply() const { return m_notSent || m_timedOut || m_superseded; }
    // True once the link has finished with the command (any outcome).
    bool isFinished() const { return m_done || m_error || gotNoReply(); }
    // Its frame was handed to the connection (the link sets it as the command goes out).
    bool wentOut() const { return m_wentOut; }

    // Bytes of the payload the processor has acknowledged / bytes of reply received.
    quint32 bytesSent() const { return m_bytesSent; }
    quint32 bytesReceived() const { return m_bytesReceived; }

    // Used by the link.
    void setReply(const QByteArray& reply) { m_reply = reply; m_bytesReceived = quint32(reply.size()); }
    void appendReply(const QByteArray& part) { m_reply.append(part); m_bytesReceived = quint32(m_reply.size()); }
    void setBytesSent(quint32 n) { m_bytesSent = n; }
    void setDone() { m_done = true; }
    void setError() { m_error = true; }
    void setNotSent() { m_notSent = true; }
    void setTimedOut() { m_timedOut = true; }
    void setSuperseded() { m_superseded = true; }
    void setWentOut() { m_wentOut = true; }
    void setCmd(quint16 id, quint16 value) { m_id = id; m_value = value; }

private:
    quint16 m_id = 0;
    quint16 m_value = 0;
    bool m_block = false;
    bool m_secret = false;
    QByteArray m_payload;
    QByteArray m_reply;
    quint32 m_bytesSent = 0;
    quint32 m_bytesReceived = 0;
    bool m_done = false;
    bool m_error = false;
    bool m_notSent = false;
    bool m_timedOut = false;
    bool m_superseded = false;
    bool m_wentOut = false;
};

Q_DECLARE_METATYPE(CZunCmd)
