#include "CZunImageDefaults.h"

#include <QtEndian>

// Provisional: an all-zero image and no ranges, until the tables carry defaults.
QVector<quint16> CZunImageDefaults::defaultImage(quint16 version)
{
    QVector<quint16> image(ImageWords, 0);
    image[2] = version & 0x0FFF;
    return image;
}

QByteArray CZunImageDefaults::defaultImageBytes(quint16 version)
{
    const QVector<quint16> words = defaultImage(version);
    QByteArray bytes(words.size() * 2, '\0');
    for (int i = 0; i < words.size(); ++i)
        qToLittleEndian<quint16>(words[i], bytes.data() + 2 * i);
    return bytes;
}

bool CZunImageDefaults::rawRange(quint16, quint16, int*, int*)
{
    return false;
}
