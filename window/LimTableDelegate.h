#pragma once

#include <QItemDelegate>
#include <QLocale>
#include <QSharedPointer>

class CZun;
class QTableView;

// Draws the limiter table's cells (values with their unit, the copied-path mark "->")
// and creates their editors: a spin box over the row's breakpoint table in the model's
// unit. Numbers are written in the system's decimal separator without group separators.
class LimTableDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    LimTableDelegate(QSharedPointer<CZun> zun, QTableView* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    // The text a cell shows; empty for cells without a value and for the impedance row,
    // which the base delegate paints.
    QString cellText(const QModelIndex& index) const;

signals:
    void colSizeChangedLim(int column) const;

public slots:
    void commitSpinBox();
    void commitDoubleSpinBox();
    void commitCheckBox();
    void commitAndCloseCombo();
    void commitAndCloseSpinBox();
    void commitAndCloseDoubleSpinBox();
    void updateEditor(const QModelIndex& topLeft, const QModelIndex& bottomRight);

private:
    void commitSender(bool close);

    QSharedPointer<CZun> m_zun;
    QTableView* m_view;
    QLocale m_locale;
};
