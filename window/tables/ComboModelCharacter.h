#pragma once

#include <QStandardItemModel>

// The characteristic choices of a crossover filter of a given order: Linkwitz-Riley exists
// only for even orders, so with an odd order its item cannot be chosen.
class ComboModelCharacter : public QStandardItemModel
{
    Q_OBJECT
public:
    ComboModelCharacter(int order, int linkwitzRiley, QObject* parent = nullptr);

    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    int m_order;
    int m_linkwitzRiley;
};
