#pragma once

#include <QItemDelegate>
#include <QMap>
#include <QSharedPointer>

class CZun;
class CZunDoubleSpinBox;
class CZunParam;
class CZunSpinBox;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QTableView;

// The cell editors of an EQ table (ZunEQModel through its proxy): a combo of type names, spin
// boxes whose steps follow the EQ manager's ranges, and a check box that stays open on every
// "Active" cell. The commit slots serve the crossover-filter and limiter delegates as well.
//
// A spin box commits each step at once, queued, so that the value reaches the model after
// the editor's own signal has returned; a typed entry is committed when the view ends the
// edit (Enter, or the focus leaving the cell).
class EQTableDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    EQTableDelegate(QSharedPointer<CZun> zun, QTableView* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // As wide as the text painted (a type name rather than its number).
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    // The editors' value boxes, stepping along a breakpoint table, within its range (null:
    // the box's own range and steps).
    static CZunSpinBox* newSpinBox(QWidget* parent, const CZunParam* steps);
    static CZunDoubleSpinBox* newDoubleSpinBox(QWidget* parent, const CZunParam* steps);

signals:
    void colSizeChangedEQ(int column);

public slots:
    void commitSpinBox();
    void commitDoubleSpinBox();
    void commitCheckBox();
    void commitAndCloseCombo();
    void commitAndCloseSpinBox();
    void commitAndCloseDoubleSpinBox();
    void updateEditor(const QModelIndex& topLeft, const QModelIndex& bottomRight);

protected:
    // Whether a change of this cell reloads its open editor (a whole-row change starts at a
    // column that does not).
    virtual bool reloadsEditor(const QModelIndex& index) const;
    // The text painted in a cell in place of its value: a name for a number, a value held
    // in single precision with the digits it has (1.4, not 1.39999997615814). Null where
    // the cell's value is painted as it is.
    virtual QString cellText(const QModelIndex& index) const;
    // Paints the cell's text in the model's alignment; false where it has none.
    bool paintText(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
    // Editors shared with the crossover-filter delegate.
    QComboBox* newCombo(QWidget* parent) const;
    QCheckBox* newCheckBox(QWidget* parent) const;
    // The combo's items: one per name in ascending number (data = the number).
    static void loadCombo(QComboBox* combo, const QMap<int, QString>& names, int current, int maxVisible);
    // The frequency box's range (up to half the processor's sample rate) and value.
    void loadFrequency(CZunSpinBox* box, const QVariant& value) const;
    // Decimals, a step of 0.1 and the value; the caller sets the range.
    static void loadDoubleBox(CZunDoubleSpinBox* box, int decimals, const QVariant& value);
    // A value box's (its text as typed so far) or check box's value.
    static QVariant valueOf(QWidget* editor);
    // Display role first (the model ignores it), then the edit role.
    static void setTwice(QAbstractItemModel* model, const QModelIndex& index, const QVariant& value);
    // The "Active" cells always show a live check box.
    void openCheckBox(const QModelIndex& index) const;
    static void loadCheckBox(QWidget* box, const QVariant& value);
    // Whether an editor holds text the operator typed and has neither committed nor
    // cancelled: the processor's answers to other edits never overwrite it.
    static bool holdsTyping(const QWidget* editor);
    // The typed text went to the model: the editor follows the processor again.
    static void typingCommitted(QWidget* editor);
    // Sets a value box's range inside the range of its steps.
    static void setRange(QDoubleSpinBox* box, double minimum, double maximum);

    QSharedPointer<CZun> m_zun;
    QTableView* m_view;

private:
    QMap<int, QString> m_typeNames;
};
