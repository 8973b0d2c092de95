#include "ZunUdpDatagram.h"


namespace {

void putWord(QByteArray& d, int offset, quint16 w)
{
    d[offset] = char(w & 0xFF);
    d[offset + 1] = char(w >> 8);
}

QByteArray header(quint16 id, int size)
{
    QByteArray d(size, '\0');
    putWord(d, 0, id);
    return d;
}

bool fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return false;
}

// Announce offsets. The hardware word is 32 bits; its low half sits at 13, its two upper
// bytes in the spare bytes at 6 and 10 around the routing byte and the version word.
enum : int {
    AnnMac = 0,
    AnnHardware2 = 6,
    AnnRoutingByte = 7,
    AnnVersion = 8,
    AnnHardware3 = 10,
    AnnRoutingWord = 11,
    AnnHardware01 = 13,
    AnnName = 15,
    AnnIp = 39,
    AnnStatus = 43,
    AnnFlags = 45,
    AnnLinkState = 47,
};

} // namespace

quint16 ZunUdpDatagram::word(const QByteArray& d, int offset)
{
    return quint16(quint8(d[offset]) | (quint8(d[offset + 1]) << 8));
}

QByteArray ZunUdpDatagram::ping()
{
    return header(IdPing, PingSize);
}

bool ZunUdpDatagram::isPing(const QByteArray& d)
{
    return d.size() == PingSize && word(d, 0) == IdPing && word(d, 2) == 0;
}

QByteArray ZunUdpDatagram::encodeAnnounce(const Announce& a)
{
    QByteArray d(AnnounceSize, '\0');
    d.replace(AnnMac, 6, a.mac.toBytes());
    d[AnnHardware2] = char((a.hardwareWord >> 16) & 0xFF);
    d[AnnRoutingByte] = char(a.routingByte);
    putWord(d, AnnVersion, a.versionWord);
    d[AnnHardware3] = char(a.hardwareWord >> 24);
    putWord(d, AnnRoutingWord, a.routingWord);
    putWord(d, AnnHardware01, quint16(a.hardwareWord & 0xFFFF));
    const QByteArray name = a.name.toLatin1().left(NameSize);
    d.replace(AnnName, name.size(), name);
    d.replace(AnnIp, 4, a.ip.toBytes());
    putWord(d, AnnStatus, a.status);
    putWord(d, AnnFlags, a.flags);
    putWord(d, AnnLinkState, a.linkState);
    return d;
}

bool ZunUdpDatagram::decodeAnnounce(const QByteArray& d, Announce* out, QString* why)
{
    if (d.size() != AnnounceSize)
        return fail(why, QStringLiteral("announce of %1 bytes, expected %2").arg(d.size()).arg(AnnounceSize));
    const CMacAddr mac = CMacAddr::fromBytes(d.left(6));
    if (!mac.isZun())
        return fail(why, QStringLiteral("announce with foreign MAC %1").arg(mac.toString()));
    Announce a;
    a.mac = mac;
    a.routingByte = quint8(d[AnnRoutingByte]);
    a.versionWord = word(d, AnnVersion);
    a.routingWord = word(d, AnnRoutingWord);
    a.hardwareWord = quint32(word(d, AnnHardware01)) | (quint32(quint8(d[AnnHardware2])) << 16)
        | (quint32(quint8(d[AnnHardware3])) << 24);
    QByteArray name = d.mid(AnnName, NameSize);
    const int nul = name.indexOf('\0');
    if (nul >= 0)
        name.truncate(nul);
    a.name = QString::fromLatin1(name);
    a.ip = CIpAddr::fromBytes(d.mid(AnnIp, 4));
    a.status = word(d, AnnStatus);
    a.flags = word(d, AnnFlags);
    a.linkState = word(d, AnnLinkState);
    // All ones where a processor always has a number (a stray sender's fill): no firmware
    // carries number 4095. The address field alone proves nothing: a processor whose stored
    // address is erased still announces, and is reached at the address it sends from.
    if (a.firmware() == 0x0FFF)
        return fail(why, QStringLiteral("announce of serial %1 with firmware %2").arg(mac.serial()).arg(a.firmware()));
    if (out)
        *out = a;
    return true;
}

QByteArray ZunUdpDatagram::statusRequest(quint16 intervalMs, quint16 count)
{
    QByteArray d = header(IdStatusRequest, StatusRequestSize);
    putWord(d, 2, intervalMs);
    putWord(d, 4, count);
    return d;
}

bool ZunUdpDatagram::decodeStatusRequest(const QByteArray& d, quint16* intervalMs, quint16* count, QString* why)
{
    if (d.size() != StatusRequestSize || word(d, 0) != IdStatusRequest)
        return fail(why, QStringLiteral("not a status request (%1 bytes)").arg(d.size()));
    *intervalMs = word(d, 2);
    *count = word(d, 4);
    return true;
}

QByteArray ZunUdpDatagram::command(quint16 cmd, quint16 value)
{
    QByteArray d = header(IdCommand, CommandSize);
    putWord(d, 2, cmd);
    putWord(d, 4, value);
    return d;
}

bool ZunUdpDatagram::decodeCommand(const QByteArray& d, quint16* cmd, quint16* value, QString* why)
{
    if (d.size() != CommandSize || word(d, 0) != IdCommand)
        return fail(why, QStringLiteral("not a UDP command (%1 bytes)").arg(d.size()));
    *cmd = word(d, 2);
    *value = word(d, 4);
    return true;
}

QByteArray ZunUdpDatagram::masterMute(bool mute)
{
    return command(CmdMasterMute, mute ? 1 : 0);
}

QList<QByteArray> ZunUdpDatagram::masterMuteAll(bool mute, bool secondDsp)
{
    QList<QByteArray> out {masterMute(mute)};
    if (secondDsp)
        out << command(CmdMasterMuteDsp2, mute ? 1 : 0);
    return out;
}

QByteArray ZunUdpDatagram::statusDatagram(const QByteArray& record)
{
    QByteArray d = header(IdStatus, StatusHeaderSize);
    putWord(d, 2, quint16(record.size()));
    return d + record;
}

bool ZunUdpDatagram::isStatus(const QByteArray& d)
{
    return d.size() >= 2 && word(d, 0) == IdStatus;
}

bool ZunUdpDatagram::checkStatus(const QByteArray& d, QString* why)
{
    if (!isStatus(d))
        return fail(why, QStringLiteral("not a status datagram"));
    const int record = d.size() - StatusHeaderSize;
    if (record != StatusRecordSmall && record != StatusRecordLarge)
        return fail(why, QStringLiteral("status datagram of %1 bytes, expected %2 or %3")
                             .arg(d.size()).arg(StatusHeaderSize + StatusRecordSmall)
                             .arg(StatusHeaderSize + StatusRecordLarge));
    return true;
}
