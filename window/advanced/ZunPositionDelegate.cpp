#include "ZunPositionDelegate.h"

QString ZunPositionDelegate::positionText(int row, const QString& text)
{
    return QStringLiteral("%1: %2").arg(row).arg(text.trimmed());
}

void ZunPositionDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = positionText(index.row(), option->text);
}
