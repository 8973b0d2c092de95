#pragma once

#include "ZunFilterParams.h"
#include "ZunFilterProxyModel.h"

class CZunHighOrderFilter;

// One channel's rows of the crossover-filter table. Filters dropped or pasted into it, and
// the filters of a channel payload, become new filters of that channel with sections of
// their own: signal_NewHighOrderFilter goes, queued, to the channel's
// allocateNewHighOrderFilter.
class ZunHOFProxyModel : public ZunFilterProxyModel
{
    Q_OBJECT
public:
    explicit ZunHOFProxyModel(QObject* parent = nullptr);

    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    void signal_NewHighOrderFilter(HO_FILTER_PARAMS params);

public slots:
    // True for any ZunHOFMimeData, whatever its length.
    bool isValidMimeData(const QMimeData* data) const;
    void on_NewHOF(CZunHighOrderFilter* filter);
    void on_HOFChanged(CZunHighOrderFilter* filter);

private:
    void announce(HO_FILTER_PARAMS params);
};
