#include "ComboModelCharacter.h"

ComboModelCharacter::ComboModelCharacter(int order, int linkwitzRiley, QObject* parent)
    : QStandardItemModel(parent), m_order(order), m_linkwitzRiley(linkwitzRiley)
{
}

Qt::ItemFlags ComboModelCharacter::flags(const QModelIndex& index) const
{
    if (m_order % 2 != 0 && index.data(Qt::UserRole).toInt() == m_linkwitzRiley)
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}
