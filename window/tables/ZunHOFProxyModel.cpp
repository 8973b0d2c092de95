#include "ZunHOFProxyModel.h"

#include "CZunHighOrderFilter.h"
#include "ZunChannelMimeData.h"
#include "ZunHOFMimeData.h"

ZunHOFProxyModel::ZunHOFProxyModel(QObject* parent) : ZunFilterProxyModel(parent) {}

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

void ZunHOFProxyModel::on_NewHOF(CZunHighOrderFilter* filter)
{
    if (filter)
        connect(filter, &CZunHighOrderFilter::signal_Changed, this, &ZunHOFProxyModel::on_HOFChanged,
                Qt::UniqueConnection);
}

void ZunHOFProxyModel::on_HOFChanged(CZunHighOrderFilter* filter)
{
    if (filter)
        rowChanged(filter->getNumber());
}
