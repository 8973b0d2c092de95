#include "CZunCmd.h"

#include "ZunWire.h"

#include <QtEndian>

CZunCmd::CZunCmd(quint16 id, quint16 value, const QByteArray& payload)
    : m_id(id), m_value(value), m_block(id == ZunWire::BlockWrite), m_payload(payload)
{
}

quint16 CZunCmd::replyWord() const
{
    if (m_reply.size() < 2)
        return 0;
    return qFromLittleEndian<quint16>(m_reply.constData());
}
