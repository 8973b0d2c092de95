#include "ZunHOFProxyModel.h"

#include "CZunHighOrderFilter.h"
#include "ZunChannelMimeData.h"
#include "ZunHOFMimeData.h"

ZunHOFProxyModel::ZunHOFProxyModel(QObject* parent) : QSortFilterProxyModel(parent) {}

bool ZunHOFProxyModel::isValidMimeData(const QMimeData* data) const
{
    return qobject_cast<const ZunHOFMimeData*>(data) != nullptr;
}

void ZunHOFProxyModel::announce(HO_FILTER_PARAMS params)
{
    // The copy never shares the source filter's sections: the new filter takes its own.
    for (quint16& s : params.sections)
        s = HO_FILTER_PARAMS::NoSection;
    emit signal_NewHighOrderFilter(params);
}

bool ZunHOFProxyModel::dropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&)
{
    if (const auto* filters = qobject_cast<const ZunHOFMimeData*>(data)) {
        for (const HO_FILTER_PARAMS& p : filters->getFilters())
            announce(p);
        return true;
    }
    if (const auto* channel = qobject_cast<const ZunChannelMimeData*>(data)) {
        for (const HO_FILTER_PARAMS& p : channel->getFilters())
            announce(p);
        return true;
    }
    return false;
}

QVariant ZunHOFProxyModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

void ZunHOFProxyModel::on_NewHOF(CZunHighOrderFilter* filter)
{
    if (filter)
        connect(filter, &CZunHighOrderFilter::signal_Changed, this, &ZunHOFProxyModel::on_HOFChanged,
                Qt::UniqueConnection);
}

void ZunHOFProxyModel::on_HOFChanged(CZunHighOrderFilter* filter)
{
    if (!filter || !sourceModel())
        return;
    const QModelIndexList found =
        sourceModel()->match(sourceModel()->index(0, 0), Qt::DisplayRole, int(filter->getNumber()), 1,
                             Qt::MatchFlags(Qt::MatchStartsWith | Qt::MatchWrap));
    if (found.isEmpty())
        return;
    const QModelIndex first = mapFromSource(found.first());
    if (first.isValid())
        emit dataChanged(first.sibling(first.row(), 0), first.sibling(first.row(), columnCount() - 1));
}
