#pragma once

#include <QStandardItemModel>

// The order choices of a crossover filter of a given characteristic: a Linkwitz-Riley
// filter takes even orders only.
class ComboModelOrder : public QStandardItemModel
{
    Q_OBJECT
public:
    ComboModelOrder(int characteristic, int linkwitzRiley, QObject* parent = nullptr);

    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    int m_characteristic;
    int m_linkwitzRiley;
};
