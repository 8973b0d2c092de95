#include "ZunChannelMimeData.h"

#include <QStringList>

ZunChannelMimeData::ZunChannelMimeData() = default;

QStringList ZunChannelMimeData::formats() const
{
    return QStringList{QString::fromLatin1(MimeType)};
}
