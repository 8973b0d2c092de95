#pragma once

#include "EQTableDelegate.h"

#include <QLocale>

// Draws the limiter table's cells (values with their unit, the copied-path mark "->")
// and creates their editors: a spin box over the row's breakpoint table in the model's
// unit. Numbers are written in the system's decimal separator without group separators.
// The commit slots are those of EQTableDelegate.
class LimTableDelegate : public EQTableDelegate
{
    Q_OBJECT
public:
    LimTableDelegate(QSharedPointer<CZun> zun, QTableView* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    // The text a cell shows; null for cells without a value and for the impedance row,
    // which the base delegate paints.
    QString cellText(const QModelIndex& index) const override;

signals:
    void colSizeChangedLim(int column) const;

protected:
    bool reloadsEditor(const QModelIndex& index) const override;

private:
    QLocale m_locale;
};
