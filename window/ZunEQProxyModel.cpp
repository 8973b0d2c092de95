#include "ZunEQProxyModel.h"

#include "CZunBiquad.h"
#include "ZunChannelMimeData.h"
#include "ZunEQMimeData.h"

ZunEQProxyModel::ZunEQProxyModel(QObject* parent) : QSortFilterProxyModel(parent) {}

bool ZunEQProxyModel::isValidMimeData(const QMimeData* data)
{
    const auto* eqs = qobject_cast<const ZunEQMimeData*>(data);
    return eqs && eqs->count() > 0;
}

bool ZunEQProxyModel::dropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&)
{
    if (const auto* eqs = qobject_cast<const ZunEQMimeData*>(data)) {
        for (const EQ_PARAMS& p : eqs->getEQs())
            emit signal_NewZunBiquad(p);
        return true;
    }
    if (const auto* channel = qobject_cast<const ZunChannelMimeData*>(data)) {
        for (const EQ_PARAMS& p : channel->getEQs())
            emit signal_NewZunBiquad(p);
        return true;
    }
    return false;
}

QVariant ZunEQProxyModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

void ZunEQProxyModel::on_NewEQ(CZunBiquad* eq)
{
    if (eq)
        connect(eq, &CZunBiquad::signal_Changed, this, &ZunEQProxyModel::on_EQChanged, Qt::UniqueConnection);
}

void ZunEQProxyModel::on_EQChanged(CZunBiquad* eq)
{
    if (!eq || !sourceModel())
        return;
    // The source finds the row by the exact number; a text match on "5" would also take 50.
    const QModelIndexList found = sourceModel()->match(sourceModel()->index(0, 0), Qt::DisplayRole,
                                                       int(eq->getNumber()), 1,
                                                       Qt::MatchFlags(Qt::MatchStartsWith | Qt::MatchWrap));
    if (found.isEmpty())
        return;
    const QModelIndex first = mapFromSource(found.first());
    if (first.isValid())
        emit dataChanged(first.sibling(first.row(), 0), first.sibling(first.row(), columnCount() - 1));
}
