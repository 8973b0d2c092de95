#pragma once

#include <QStyledItemDelegate>

// The rows of a list of processor positions (setups, FIR sets) with their position number
// in front, the number the tab's log lines, the setup files (SetNN_) and the recall
// messages give: an empty position 3 ("---") reads "3: ---". Only the shown text changes;
// the list's own texts (a name typed over a row) stay as they are.
class ZunPositionDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QString positionText(int row, const QString& text);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
