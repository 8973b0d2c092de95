#include "LimTableDelegate.h"

#include "CBlockFIR.h"
#include "CZunDoubleSpinBox.h"
#include "CZunParam.h"
#include "ZunLimModel.h"

#include <QPainter>
#include <QTableView>

#include <cmath>

LimTableDelegate::LimTableDelegate(QSharedPointer<CZun> zun, QTableView* parent)
    : EQTableDelegate(std::move(zun), parent), m_locale(QLocale::system())
{
    m_locale.setNumberOptions(QLocale::OmitGroupSeparator);
}

QString LimTableDelegate::cellText(const QModelIndex& index) const
{
    const auto* model = qobject_cast<const ZunLimModel*>(index.model());
    const QVariant value = index.data(Qt::DisplayRole);
    if (!model || !value.isValid())
        return QString();
    const double v = value.toDouble();
    const QString unit = CBlockFIR::unitText(model->unit());
    switch (index.row()) {
    case ZunLimModel::RowGain: return m_locale.toString(v, 'f', 1) + QStringLiteral("dB");
    case ZunLimModel::RowRmsTime: return m_locale.toString(v, 'f', 1) + QStringLiteral("s");
    case ZunLimModel::RowSurgeDuration:
        return m_locale.toString(std::floor(v * 1000.0 + 0.5), 'f', 0) + QStringLiteral("ms");
    case ZunLimModel::RowImpedance: return QString();
    default:
        if (model->unit() == ZunC::Watt)
            return m_locale.toString(std::trunc(v), 'f', 0) + unit;
        return m_locale.toString(v, 'f', 1) + unit;
    }
}

void LimTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = setOptions(index, option);
    if (ZunLimModel::isCopiedPath(index)) {
        drawBackground(painter, opt, index);
        opt.displayAlignment = Qt::AlignCenter;
        drawDisplay(painter, opt, opt.rect, QStringLiteral("->"));
        drawFocus(painter, opt, opt.rect);
        return;
    }
    if (index.row() == ZunLimModel::RowImpedance) {
        QItemDelegate::paint(painter, option, index);
        return;
    }
    opt.displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
    const QVariant fg = index.data(Qt::ForegroundRole);
    if (fg.canConvert<QBrush>()) {
        const QBrush brush = qvariant_cast<QBrush>(fg);
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            opt.palette.setBrush(g, QPalette::Text, brush);
    }
    drawBackground(painter, opt, index);
    drawDisplay(painter, opt, opt.rect, cellText(index));
    drawFocus(painter, opt, opt.rect);
}

QWidget* LimTableDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const
{
    const auto* model = qobject_cast<const ZunLimModel*>(index.model());
    const CZunParam* param = model ? model->editorParam(index.row()) : nullptr;
    if (!param)
        return QItemDelegate::createEditor(parent, option, index);
    CZunDoubleSpinBox* box = newDoubleSpinBox(parent, param);
    box->setLocale(m_locale);
    box->setDecimals(model->editorDecimals(index.row()));
    box->setSingleStep(param->lastStep());
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(box, &CZunDoubleSpinBox::valueChangedEditFinished, this, &EQTableDelegate::commitDoubleSpinBox);
    connect(box, &QDoubleSpinBox::editingFinished, this, &EQTableDelegate::commitAndCloseDoubleSpinBox);
    return box;
}

void LimTableDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* box = qobject_cast<CZunDoubleSpinBox*>(editor);
    if (!box || index.row() > ZunLimModel::RowImpedance) {
        QItemDelegate::setEditorData(editor, index);
        return;
    }
    const double v = index.data(Qt::EditRole).toDouble();
    box->setValueGuarded(index.row() == ZunLimModel::RowSurgeDuration ? v * 1000.0 : v);
    emit colSizeChangedLim(index.column());
}

void LimTableDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    auto* box = qobject_cast<QDoubleSpinBox*>(editor);
    if (!box || index.row() > ZunLimModel::RowImpedance) {
        QItemDelegate::setModelData(editor, model, index);
        return;
    }
    const double v = valueOf(box).toDouble();
    setTwice(model, index, index.row() == ZunLimModel::RowSurgeDuration ? v / 1000.0 : v);
}

bool LimTableDelegate::reloadsEditor(const QModelIndex& index) const
{
    return index.row() >= 0 && index.row() <= ZunLimModel::RowImpedance;
}
