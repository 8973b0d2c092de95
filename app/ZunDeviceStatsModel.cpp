#include "ZunDeviceStatsModel.h"

#include "CZunNetwork.h"

#include <QColor>
#include <QSize>

ZunDeviceStatsModel::ZunDeviceStatsModel(CZunNetwork* network, QObject* parent)
    : QAbstractTableModel(parent)
    , m_network(network)
{
    if (m_network) {
        m_devices = m_network->getDeviceList();
        connect(m_network, &CZunNetwork::zunNetworkChanged, this, &ZunDeviceStatsModel::reloadModel);
    }
}

void ZunDeviceStatsModel::reloadModel()
{
    beginResetModel();
    m_devices = m_network ? m_network->getDeviceList() : QList<QSharedPointer<ZunDeviceStats>>();
    endResetModel();
}

void ZunDeviceStatsModel::recordChanged(QSharedPointer<ZunDeviceStats> record)
{
    const int row = m_devices.indexOf(record);
    if (row >= 0)
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

int ZunDeviceStatsModel::rowCount(const QModelIndex&) const
{
    return m_devices.size();
}

int ZunDeviceStatsModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant ZunDeviceStatsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    static const char* const names[] = {"Nr", "IP", "Name", "Firmware", "Online", "Status", "Signal"};
    if (section < 0 || section >= ColumnCount)
        return QVariant();
    return tr(names[section]);
}

QSharedPointer<ZunDeviceStats> ZunDeviceStatsModel::device(int row) const
{
    if (row < 0 || row >= m_devices.size())
        return QSharedPointer<ZunDeviceStats>();
    return m_devices.at(row);
}

QColor ZunDeviceStatsModel::statusColor(quint16 statusWord)
{
    if (statusWord == ZunDeviceStats::StatusIdle || statusWord == ZunDeviceStats::StatusCmdChange)
        return QColor(Qt::green);
    return (statusWord >> 8) == 0xFF ? QColor(Qt::red) : QColor(Qt::green);
}

QVariant ZunDeviceStatsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.column() < 0 || index.column() >= ColumnCount)
        return QVariant();
    const QSharedPointer<ZunDeviceStats> d = device(index.row());
    if (!d)
        return QVariant();
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        switch (col) {
        case ColNr: return int(d->serial());
        case ColIp: return d->getIpAddress().toString();
        case ColName: return d->getName();
        case ColFirmware: return d->getFirmwareString();
        case ColOnline:
            if (!d->isLive())
                return tr("no");
            return d->linkState() == ZunDeviceStats::LinkStateConnected ? tr("connected") : tr("yes");
        case ColStatus: return d->statusText();
        case ColSignal: return d->clockText();
        }
        break;
    case Qt::ToolTipRole:
        return d->toolTip();
    case Qt::TextAlignmentRole:
        return col == ColName ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        switch (col) {
        case ColNr: return QColor(d->isFlag6Set() ? Qt::red : Qt::white);
        case ColOnline: return QColor(d->isLive() ? Qt::green : Qt::red);
        case ColStatus: return statusColor(d->statusWord());
        case ColSignal: return QColor((d->flagsWord() & 0x0003) ? Qt::green : Qt::red);
        default: return QVariant();
        }
    case Qt::SizeHintRole: {
        static const int widths[] = {40, 90, 160, 80, 65, 65, 65};
        return QSize(widths[col], 20);
    }
    default:
        break;
    }
    return QVariant();
}
