#include "ComboModelOrder.h"

ComboModelOrder::ComboModelOrder(int characteristic, int linkwitzRiley, QObject* parent)
    : QStandardItemModel(parent), m_characteristic(characteristic), m_linkwitzRiley(linkwitzRiley)
{
}

Qt::ItemFlags ComboModelOrder::flags(const QModelIndex& index) const
{
    if (m_characteristic == m_linkwitzRiley && index.data(Qt::UserRole).toInt() % 2 != 0)
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}
