#pragma once

#include <QSortFilterProxyModel>

// Sorts the device list; the row header numbers the rows as shown, whatever the sort.
class ZunDeviceStatsProxyModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
};
