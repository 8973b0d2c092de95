#pragma once

#include "ZunFilterParams.h"
#include "ZunFilterProxyModel.h"

class CZunBiquad;

// One channel's rows of the EQ table (its creator sets the filter on the "Bank" column).
// EQ rows dropped or pasted into it, and the EQs of a channel payload, become new EQs of
// that channel: signal_NewZunBiquad goes, queued, to the channel's allocateNewZunBiquad.
class ZunEQProxyModel : public ZunFilterProxyModel
{
    Q_OBJECT
public:
    explicit ZunEQProxyModel(QObject* parent = nullptr);

    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // What a paste or drop would take: a ZunEQMimeData with at least one EQ.
    static bool isValidMimeData(const QMimeData* data);

signals:
    void signal_NewZunBiquad(EQ_PARAMS params);

public slots:
    void on_NewEQ(CZunBiquad* eq);
    void on_EQChanged(CZunBiquad* eq);
};
