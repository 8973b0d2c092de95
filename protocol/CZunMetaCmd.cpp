#include "CZunMetaCmd.h"

#include "ZunWire.h"

#include <QtEndian>

CZunMetaCmd::CZunMetaCmd(quint16 id, quint16 value, const QByteArray& payload)
{
    appendCmd(id, value, payload);
}

void CZunMetaCmd::appendCmd(quint16 id, quint16 value, const QByteArray& payload)
{
    append(CZunCmd(id, value, payload));
}

void CZunMetaCmd::append(const CZunCmd& cmd)
{
    m_cmds.append(cmd);
    addToKey(cmd);
}

void CZunMetaCmd::addToKey(const CZunCmd& cmd)
{
    // The key is the exact sequence of (id, selector) pairs, so two different groups
    // never share a key by accident.
    char pair[4];
    const bool byValue = cmd.getCmd() == ZunWire::ParRead || cmd.getCmd() == ZunWire::BlockRead;
    qToLittleEndian<quint16>(cmd.getCmd(), pair);
    qToLittleEndian<quint16>(byValue ? cmd.getValue() : 0, pair + 2);
    m_key.append(pair, 4);
    if (cmd.isBlockTransfer())
        m_hasBlock = true;
}

bool CZunMetaCmd::touchesWordOf(const CZunMetaCmd& other) const
{
    auto wordOf = [](const CZunCmd& c) { return c.getCmd() == ZunWire::ParRead ? c.getValue() : c.getCmd(); };
    for (const CZunCmd& mine : m_cmds)
        for (const CZunCmd& theirs : other.m_cmds)
            if (wordOf(mine) == wordOf(theirs))
                return true;
    return false;
}
