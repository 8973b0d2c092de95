#pragma once

#include <QDataStream>
#include <QHostAddress>
#include <QMetaType>
#include <QString>

// An IPv4 address held as a value (host byte order inside, network order on the wire).
class CIpAddr
{
public:
    CIpAddr() = default;
    explicit CIpAddr(quint32 value) : m_value(value) {}
    // An IPv4 address or an IPv4-mapped IPv6 address; anything else gives 0.0.0.0.
    explicit CIpAddr(const QHostAddress& address);
    // Four bytes in network order (a.b.c.d); fewer than four give 0.0.0.0.
    static CIpAddr fromBytes(const QByteArray& bytes);
    // Dotted-quad text; anything else gives 0.0.0.0.
    static CIpAddr fromString(const QString& text);

    quint32 value() const { return m_value; }
    bool isNull() const { return m_value == 0; }
    QByteArray toBytes() const;
    QHostAddress toHostAddress() const { return QHostAddress(m_value); }
    QString toString() const { return toHostAddress().toString(); }

    bool operator==(const CIpAddr& o) const { return m_value == o.m_value; }
    bool operator!=(const CIpAddr& o) const { return m_value != o.m_value; }
    bool operator<(const CIpAddr& o) const { return m_value < o.m_value; }

private:
    quint32 m_value = 0;
};

QDataStream& operator<<(QDataStream& out, const CIpAddr& ip);
QDataStream& operator>>(QDataStream& in, CIpAddr& ip);

Q_DECLARE_METATYPE(CIpAddr)
