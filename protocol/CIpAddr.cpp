#include "CIpAddr.h"

CIpAddr::CIpAddr(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v = address.toIPv4Address(&ok);
    m_value = ok ? v : 0;
}

CIpAddr CIpAddr::fromBytes(const QByteArray& bytes)
{
    if (bytes.size() < 4)
        return CIpAddr();
    return CIpAddr((quint32(quint8(bytes[0])) << 24) | (quint32(quint8(bytes[1])) << 16)
                   | (quint32(quint8(bytes[2])) << 8) | quint32(quint8(bytes[3])));
}

CIpAddr CIpAddr::fromString(const QString& text)
{
    QHostAddress a;
    if (!a.setAddress(text.trimmed()) || a.protocol() != QAbstractSocket::IPv4Protocol)
        return CIpAddr();
    return CIpAddr(a);
}

QByteArray CIpAddr::toBytes() const
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((m_value >> (8 * (3 - i))) & 0xFF);
    return b;
}

QDataStream& operator<<(QDataStream& out, const CIpAddr& ip)
{
    return out << quint32(ip.value());
}

QDataStream& operator>>(QDataStream& in, CIpAddr& ip)
{
    quint32 v = 0;
    in >> v;
    ip = in.status() == QDataStream::Ok ? CIpAddr(v) : CIpAddr();
    return in;
}
