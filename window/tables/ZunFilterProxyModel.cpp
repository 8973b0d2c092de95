#include "ZunFilterProxyModel.h"

QVariant ZunFilterProxyModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

void ZunFilterProxyModel::showSlot(int slot)
{
    m_slot = slot >= 0 && slot <= 11 ? slot : -1;
    // The bank column shows the slot right-aligned in two places.
    setFilterRegularExpression(QStringLiteral("%1").arg(slot, 2));
}

void ZunFilterProxyModel::rowChanged(int number)
{
    if (!sourceModel())
        return;
    const QModelIndexList found = sourceModel()->match(sourceModel()->index(0, 0), Qt::DisplayRole, number, 1,
                                                       Qt::MatchFlags(Qt::MatchStartsWith | Qt::MatchWrap));
    const QModelIndex first = found.isEmpty() ? QModelIndex() : mapFromSource(found.first());
    if (first.isValid())
        emit dataChanged(first.sibling(first.row(), 0), first.sibling(first.row(), columnCount() - 1));
}
