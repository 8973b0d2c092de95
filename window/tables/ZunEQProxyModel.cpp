#include "ZunEQProxyModel.h"

#include "CZunBiquad.h"
#include "ZunChannelMimeData.h"
#include "ZunEQMimeData.h"

ZunEQProxyModel::ZunEQProxyModel(QObject* parent) : ZunFilterProxyModel(parent) {}

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

void ZunEQProxyModel::on_NewEQ(CZunBiquad* eq)
{
    if (eq)
        connect(eq, &CZunBiquad::signal_Changed, this, &ZunEQProxyModel::on_EQChanged, Qt::UniqueConnection);
}

void ZunEQProxyModel::on_EQChanged(CZunBiquad* eq)
{
    if (eq)
        rowChanged(eq->getNumber());
}
