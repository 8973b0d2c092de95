#pragma once

#include "ZunFilterTableModel.h"

class CZunHighOrderFilter;

// A table over every crossover (high-order) filter of one device, both DSPs: the EQ
// manager's filters of DSP 0 first, then those of DSP 1. One per control window, shared by
// every channel page through a ZunHOFProxyModel. Roles and the double set of the delegate
// as in ZunEQModel.
//
// An edit changes the filter object and then rebuilds it (design, sections, device write).
// A rebuild the device model refuses is reported through signal_exception, and the object
// takes its previous values back, so that the table shows what the processor still has.
class ZunHOFModel : public ZunFilterTableModel
{
    Q_OBJECT
public:
    enum Column {
        ColNr,
        ColName,
        ColBank,
        ColType,
        ColCharacter,
        ColOrder,
        ColFrequency,
        ColRipple,
        ColActive,
        ColumnCount
    };

    explicit ZunHOFModel(QSharedPointer<CZun> zun, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A ZunHOFMimeData with one record per distinct row of the indexes, in their order.
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

    // The filter of a row; null when the row's object is gone.
    CZunHighOrderFilter* filter(int row) const;

public slots:
    void setPointerCZun(QSharedPointer<CZun> zun);
    void reloadModel();
    void on_NewHighOrderFilter(CZunHighOrderFilter* filter);
    void on_HOFChanged(CZunHighOrderFilter* filter);
    void on_HOFDeleted(int number);

protected:
    int numberAt(int row) const override;
    void follow(int row) override;
};
