#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QMetaType>
#include <QString>

// A 48-bit MAC address held as a value. A processor's MAC is 5A 75 6E 00 followed by the
// two bytes of its serial number, high byte first.
class CMacAddr
{
public:
    static constexpr quint32 ZunPrefix = 0x5A756E00u; // the first four bytes of every processor

    CMacAddr() = default;
    explicit CMacAddr(quint64 value) : m_value(value & 0xFFFFFFFFFFFFull) {}
    // The first six bytes of the array; fewer than six give the null address.
    static CMacAddr fromBytes(const QByteArray& bytes);
    // "5a:75:6e:00:00:07" or with dashes; anything else gives the null address.
    static CMacAddr fromString(const QString& text);
    // The processor MAC of a serial number.
    static CMacAddr fromSerial(quint16 serial);

    quint64 value() const { return m_value; }
    bool isNull() const { return m_value == 0; }
    // True when the first four bytes are the processor prefix.
    bool isZun() const { return quint32(m_value >> 16) == ZunPrefix; }
    // The last two bytes, the fifth as high byte.
    quint16 serial() const { return quint16(m_value & 0xFFFF); }
    QByteArray toBytes() const;
    // Upper-case hexadecimal pairs separated by colons.
    QString toString() const;

    bool operator==(const CMacAddr& o) const { return m_value == o.m_value; }
    bool operator!=(const CMacAddr& o) const { return m_value != o.m_value; }
    bool operator<(const CMacAddr& o) const { return m_value < o.m_value; }

private:
    quint64 m_value = 0;
};

QDataStream& operator<<(QDataStream& out, const CMacAddr& mac);
QDataStream& operator>>(QDataStream& in, CMacAddr& mac);

Q_DECLARE_METATYPE(CMacAddr)
