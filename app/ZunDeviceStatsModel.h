#pragma once

#include "ZunDeviceStats.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>
#include <QSharedPointer>

class CZunNetwork;

// The device list: one row per processor that the discovery object knows, seven columns
// of identity and health. The rows are a snapshot of the discovery object's list, taken
// only between the begin and end of a model reset, so that an attached view never sees
// the row count change unannounced (the list itself grows in the discovery thread).
class ZunDeviceStatsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColNr, ColIp, ColName, ColFirmware, ColOnline, ColStatus, ColSignal, ColumnCount };

    ZunDeviceStatsModel(CZunNetwork* network, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The record shown in that row; null outside the list.
    QSharedPointer<ZunDeviceStats> device(int row) const;

    // The colour of a status word: green for idle, command change and any word whose
    // high byte is not 0xFF; red otherwise.
    static QColor statusColor(quint16 statusWord);

public slots:
    void reloadModel();
    // A listed record changed in place (its firmware after a version probe): its row is
    // repainted. A record that is not listed changes nothing.
    void recordChanged(QSharedPointer<ZunDeviceStats> record);

private:
    QPointer<CZunNetwork> m_network;
    QList<QSharedPointer<ZunDeviceStats>> m_devices;
};
