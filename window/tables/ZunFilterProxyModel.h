#pragma once

#include <QSortFilterProxyModel>

// What the EQ and crossover-filter proxies of a channel page share: the row numbers of the
// vertical header, and the refresh of one row when its EQ or filter changes.
class ZunFilterProxyModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Keeps the rows of one channel: those whose key column (the caller's "Bank" column)
    // reads its slot. A slot outside 0-11 (no channel) keeps none.
    void showSlot(int slot);
    // The channel whose rows are kept, -1 for none.
    int slot() const { return m_slot; }

protected:
    // The page that shows it passes itself (or its table) as parent: the proxy goes with it.
    explicit ZunFilterProxyModel(QObject* parent) : QSortFilterProxyModel(parent) {}

    // dataChanged over the whole row of an EQ or filter number. The source finds the row by
    // the exact number; a text match on "5" would also take 50.
    void rowChanged(int number);

private:
    int m_slot = -1;
};
