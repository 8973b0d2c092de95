#pragma once

#include <QByteArray>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>

#include "ZunSimOperations.h"

#include <functional>

class CCmdMap;
class QTcpSocket;
class ZunSimDevice;

// One TCP control connection of the emulated processor: reads command frames, block
// writes and block read requests and answers them as docs/protocol.md describes. It
// closes the connection when the client stays silent for the close time that
// "Cmd_TCPCloseTime" set (0 = never), and applies the device's faults.
class ZunSimTcpSession : public QObject
{
    Q_OBJECT
public:
    ZunSimTcpSession(QTcpSocket* socket, ZunSimDevice* device, QSharedPointer<CCmdMap> map,
                     QObject* parent = nullptr);

    // Sends the status word frame that announces a front-panel change of one parameter;
    // the next DSP status block read over this link names the parameter as well.
    void announceChange(quint16 cmd);

private slots:
    void on_ReadyRead();
    void on_IdleTimeout();

private:
    enum class Stage { Command, BlockData };

    int num(const char* name, int fallback = -1) const;
    // The field ranges of an EQ type word and a filter's first word.
    bool recordWordValid(quint16 id, quint16 value) const;
    void parse();
    bool extractUnit(std::function<void()>* unit);
    void handleCommand(quint16 id, quint16 value);
    void handleBlockStart(quint16 value, quint32 total);
    void handleChunk(QByteArray chunk, quint16 sum);
    void sendBlock(quint16 kind, const QByteArray& data);
    void reply(quint16 id, const QByteArray& payload);
    void replyWord(quint16 id, quint16 value);
    void refuse(quint16 code, quint16 id, quint16 value);
    void updateCloseTime();
    bool faultSilent();

    QTcpSocket* m_socket;
    ZunSimDevice* m_device;
    QSharedPointer<CCmdMap> m_map;
    QTimer m_idle;
    QByteArray m_in;
    Stage m_stage = Stage::Command;
    bool m_deferred = false;
    // Held after a block write ("hold block"): nothing more of this client is read until
    // the control line "release"; the timer looks for it.
    bool m_held = false;
    QTimer m_holdCheck;
    bool m_dropReply = false; // the command being handled runs, its reply closes the link
    quint16 m_blockValue = 0;
    quint32 m_blockTotal = 0;
    QByteArray m_block;
    int m_pendingStatus = -1; // changed parameter for the next DSP status block
    ZunSimOperations m_ops;
};
