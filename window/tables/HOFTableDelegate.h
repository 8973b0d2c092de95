#pragma once

#include "EQTableDelegate.h"

class QStandardItemModel;

// The cell editors of a crossover-filter table (ZunHOFModel through its proxy): combos for
// pass band, characteristic and order (the characteristic and order combos grey out what a
// Linkwitz-Riley filter cannot be), spin boxes for frequency and ripple, and the live
// "Active" check boxes. The commit slots are those of EQTableDelegate.
class HOFTableDelegate : public EQTableDelegate
{
    Q_OBJECT
public:
    HOFTableDelegate(QSharedPointer<CZun> zun, QTableView* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    // "6 dB/Oct" to "60 dB/Oct" for orders 1 to 10.
    static QMap<int, QString> orderNames();

signals:
    void colSizeChangedHOF(int column);

protected:
    bool reloadsEditor(const QModelIndex& index) const override;
    QString cellText(const QModelIndex& index) const override;

private:
    int linkwitzRiley() const;
    // The combo's choices: one item per name in ascending number (user data = the number).
    static void loadChoices(QComboBox* combo, QStandardItemModel* choices, const QMap<int, QString>& names, int current,
                            int maxVisible);

    QMap<int, QString> m_typeNames;
    QMap<int, QString> m_characteristicNames;
    QMap<int, QString> m_orderNames;
};
