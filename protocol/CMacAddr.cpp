#include "CMacAddr.h"

#include <QStringList>

CMacAddr CMacAddr::fromBytes(const QByteArray& bytes)
{
    if (bytes.size() < 6)
        return CMacAddr();
    quint64 v = 0;
    for (int i = 0; i < 6; ++i)
        v = (v << 8) | quint8(bytes[i]);
    return CMacAddr(v);
}

CMacAddr CMacAddr::fromString(const QString& text)
{
    QString t = text.trimmed();
    t.replace(QLatin1Char('-'), QLatin1Char(':'));
    const QStringList parts = t.split(QLatin1Char(':'));
    if (parts.size() != 6)
        return CMacAddr();
    quint64 v = 0;
    for (const QString& p : parts) {
        bool ok = false;
        const uint b = p.toUInt(&ok, 16);
        if (!ok || p.size() > 2 || b > 0xFF)
            return CMacAddr();
        v = (v << 8) | b;
    }
    return CMacAddr(v);
}

CMacAddr CMacAddr::fromSerial(quint16 serial)
{
    return CMacAddr((quint64(ZunPrefix) << 16) | serial);
}

QByteArray CMacAddr::toBytes() const
{
    QByteArray b(6, '\0');
    for (int i = 0; i < 6; ++i)
        b[i] = char((m_value >> (8 * (5 - i))) & 0xFF);
    return b;
}

QString CMacAddr::toString() const
{
    QStringList parts;
    const QByteArray b = toBytes();
    for (char c : b)
        parts << QStringLiteral("%1").arg(quint8(c), 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(':'));
}

QDataStream& operator<<(QDataStream& out, const CMacAddr& mac)
{
    return out << quint64(mac.value());
}

QDataStream& operator>>(QDataStream& in, CMacAddr& mac)
{
    quint64 v = 0;
    in >> v;
    mac = in.status() == QDataStream::Ok ? CMacAddr(v) : CMacAddr();
    return in;
}
