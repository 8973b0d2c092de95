#pragma once

#include <QStyledItemDelegate>

// The rows of a list of processor positions (setups, FIR sets) with their position number
// in front, counted from 1 as the operator counts setups: an empty position ("---") reads
// "3: ---". Only the shown text changes; the list's own texts (a name typed over a row)
// stay as they are.
class ZunPositionDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QString positionText(int row, const QString& text);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
