#include "ZunDeviceStatsProxyModel.h"

QVariant ZunDeviceStatsProxyModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    return sourceModel() ? sourceModel()->headerData(section, orientation, role) : QVariant();
}
