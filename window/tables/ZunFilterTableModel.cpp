#include "ZunFilterTableModel.h"

#include "CEQManager.h"
#include "CZun.h"

ZunFilterTableModel::ZunFilterTableModel(const QStringList& headers, const QVector<QSize>& sizes, QObject* parent)
    : QAbstractTableModel(parent), m_headers(headers), m_sizes(sizes)
{
}

ZunFilterTableModel::~ZunFilterTableModel()
{
    // When this model holds the last reference, the device and its EQs go with it: their
    // last signals must find an empty model that tells nobody.
    blockSignals(true);
    QSharedPointer<CZun> last;
    last.swap(m_zun);
    if (last && last->GetEQManager())
        disconnect(last->GetEQManager(), nullptr, this, nullptr);
}

void ZunFilterTableModel::replaceDevice(QSharedPointer<CZun> zun)
{
    if (m_zun && m_zun->GetEQManager())
        disconnect(m_zun->GetEQManager(), nullptr, this, nullptr);
    m_zun = std::move(zun);
}

void ZunFilterTableModel::reset()
{
    beginResetModel();
    endResetModel();
    // Objects that existed before this model (or before a reload) are followed as well.
    if (m_zun)
        for (int r = 0; r < rowCount(); ++r)
            follow(r);
}

void ZunFilterTableModel::onObjectGone()
{
    // Also reached while this model is being destroyed (its device going with it): then
    // there is no device, and nothing is asked of the derived class.
    if (m_zun)
        reset();
}

int ZunFilterTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_headers.size();
}

QVariant ZunFilterTableModel::layoutData(const QModelIndex& index, int role) const
{
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::SizeHintRole)
        return m_sizes.value(index.column());
    return QVariant();
}

QVariant ZunFilterTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    return m_headers.value(section);
}

QModelIndexList ZunFilterTableModel::match(const QModelIndex& start, int, const QVariant& value, int,
                                           Qt::MatchFlags) const
{
    if (start.column() != 0)
        return {};
    const int number = value.toInt();
    for (int r = 0; r < rowCount(); ++r)
        if (numberAt(r) == number)
            return {index(r, 0)};
    return {};
}

void ZunFilterTableModel::rowChanged(int number)
{
    const QModelIndexList found = match(index(0, 0), Qt::DisplayRole, number);
    if (!found.isEmpty())
        emit dataChanged(index(found.first().row(), 0), index(found.first().row(), columnCount() - 1));
}
