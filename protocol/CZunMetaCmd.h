#pragma once

#include "CZunCmd.h"

#include <QByteArray>
#include <QList>

// An ordered list of commands that the link sends as one unit, in list order.
//
// Supersede: while a group whose flag is set still waits in the command buffer, a later
// group with the same key takes its place (a fader moved twice sends only its last
// value). The key is computed over the command ids; a parameter read (0xFF0B) and a block
// read request (0xFF04) count with their value, since the value names what they read.
// A group that carries a block transfer to the processor never supersedes: its data
// would be lost.
//
// Background: a read the program makes on its own (a stored setup or FIR set downloaded
// to be listed). The operator's groups go ahead of waiting background groups, unless
// they touch a word one of those groups touches (see touchesWordOf); groups of one kind
// keep their order.
class CZunMetaCmd
{
public:
    CZunMetaCmd() = default;
    CZunMetaCmd(quint16 id, quint16 value, const QByteArray& payload = QByteArray());

    // Appends a command; a non-empty payload makes it a block transfer (value = its length).
    void appendCmd(quint16 id, quint16 value, const QByteArray& payload = QByteArray());
    void append(const CZunCmd& cmd);

    const QList<CZunCmd>& commands() const { return m_cmds; }
    int size() const { return m_cmds.size(); }
    bool isEmpty() const { return m_cmds.isEmpty(); }

    const QByteArray& key() const { return m_key; }
    bool supersede() const { return m_supersede; }
    void setSupersede(bool on) { m_supersede = on; }
    // True when a later group may replace this one while it waits (flag set, no block).
    bool isReplaceable() const { return m_supersede && !m_hasBlock; }
    bool isBackground() const { return m_background; }
    void setBackground(bool on) { m_background = on; }
    // True when a command of this group and one of other write or read the same word (a
    // parameter read counts as the word it reads): their order then matters.
    bool touchesWordOf(const CZunMetaCmd& other) const;

private:
    void addToKey(const CZunCmd& cmd);

    QList<CZunCmd> m_cmds;
    QByteArray m_key;
    bool m_supersede = true;
    bool m_hasBlock = false;
    bool m_background = false;
};
