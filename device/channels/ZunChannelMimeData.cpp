#include "ZunChannelMimeData.h"

#include "ZunFilterImport.h"

#include <QStringList>

ZunChannelMimeData::ZunChannelMimeData() = default;

ZunChannelMimeData::ZunChannelMimeData(const QString& fileName)
{
    const ZunFilterImport::Result read = ZunFilterImport::ReadCSV(fileName);
    for (const EQ_PARAMS& eq : read.eqs)
        m_eqs.append(eq);
    for (const HO_FILTER_PARAMS& filter : read.filters)
        m_filters.append(filter);
}

QStringList ZunChannelMimeData::formats() const
{
    return QStringList{QString::fromLatin1(MimeType)};
}
