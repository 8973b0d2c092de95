#include "EQTableDelegate.h"

#include "CEQManager.h"
#include "CZun.h"
#include "CZunDoubleSpinBox.h"
#include "CZunParam.h"
#include "CZunSpinBox.h"
#include "ZunEQModel.h"
#include "ZunWheelGuard.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableView>

#include <cmath>

EQTableDelegate::EQTableDelegate(QSharedPointer<CZun> zun, QTableView* parent)
    : QItemDelegate(parent), m_zun(std::move(zun)), m_view(parent)
{
    if (m_zun && m_zun->GetEQManager())
        m_typeNames = m_zun->GetEQManager()->GetEQTypeNames(false);
}

// --- value boxes ---------------------------------------------------------------------------

CZunSpinBox* EQTableDelegate::newSpinBox(QWidget* parent, const CZunParam* steps)
{
    auto* box = new CZunSpinBox(steps, parent);
    box->setKeyboardTracking(false);
    ZunWheelGuard::install({box});
    if (steps)
        box->setRange(int(std::ceil(steps->GetMin())), int(steps->GetMax()));
    return box;
}

CZunDoubleSpinBox* EQTableDelegate::newDoubleSpinBox(QWidget* parent, const CZunParam* steps)
{
    auto* box = new CZunDoubleSpinBox(steps, parent);
    box->setKeyboardTracking(false);
    ZunWheelGuard::install({box});
    if (steps)
        box->setRange(steps->GetMin(), steps->GetMax());
    return box;
}

void EQTableDelegate::setRange(QDoubleSpinBox* box, double minimum, double maximum)
{
    const QSignalBlocker block(box);
    const double low = qMax(minimum, box->minimum());
    box->setRange(low, qMax(low, qMin(maximum, box->maximum())));
}

void EQTableDelegate::openCheckBox(const QModelIndex& index) const
{
    if (m_view && !m_view->indexWidget(index))
        m_view->openPersistentEditor(index);
}

void EQTableDelegate::loadCheckBox(QWidget* box, const QVariant& value)
{
    const QSignalBlocker block(box);
    static_cast<QCheckBox*>(box)->setChecked(value.toBool());
}

QComboBox* EQTableDelegate::newCombo(QWidget* parent) const
{
    auto* combo = new QComboBox(parent);
    ZunWheelGuard::install({combo});
    connect(combo, QOverload<int>::of(&QComboBox::activated), this, &EQTableDelegate::commitAndCloseCombo);
    return combo;
}

QCheckBox* EQTableDelegate::newCheckBox(QWidget* parent) const
{
    auto* box = new QCheckBox(parent);
    connect(box, &QCheckBox::stateChanged, this, &EQTableDelegate::commitCheckBox);
    return box;
}

void EQTableDelegate::loadCombo(QComboBox* combo, const QMap<int, QString>& names, int current, int maxVisible)
{
    const QSignalBlocker block(combo);
    combo->clear();
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        combo->addItem(it.value(), it.key());
    combo->setCurrentIndex(current);
    combo->setMaxVisibleItems(maxVisible);
}

void EQTableDelegate::loadFrequency(CZunSpinBox* box, const QVariant& value) const
{
    if (m_zun && m_zun->GetEQManager()) {
        // The processor cannot filter above half its sample rate.
        CEQManagerInterface::Limits range;
        m_zun->GetEQManager()->GetFrequencyRange(range);
        box->setRange(int(range.minimum), int(range.maximum));
    }
    box->setValueGuarded(int(value.toDouble()));
}

void EQTableDelegate::loadDoubleBox(CZunDoubleSpinBox* box, int decimals, const QVariant& value)
{
    box->setDecimals(decimals);
    box->setSingleStep(0.1);
    box->setValueGuarded(value.toDouble());
}

QVariant EQTableDelegate::valueOf(QWidget* editor)
{
    // The boxes do not end an edit on Enter themselves: what was typed is read here.
    if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
        spin->interpretText();
        return spin->value();
    }
    if (auto* dspin = qobject_cast<QDoubleSpinBox*>(editor)) {
        dspin->interpretText();
        return dspin->value();
    }
    if (auto* check = qobject_cast<QCheckBox*>(editor))
        return check->isChecked();
    return QVariant();
}

void EQTableDelegate::setTwice(QAbstractItemModel* model, const QModelIndex& index, const QVariant& value)
{
    model->setData(index, value, Qt::DisplayRole);
    model->setData(index, value, Qt::EditRole);
}

// --- commit slots ----------------------------------------------------------------------------

void EQTableDelegate::commitSpinBox()
{
    if (auto* box = qobject_cast<QSpinBox*>(sender()))
        emit commitData(box);
}

void EQTableDelegate::commitDoubleSpinBox()
{
    if (auto* box = qobject_cast<QDoubleSpinBox*>(sender()))
        emit commitData(box);
}

void EQTableDelegate::commitCheckBox()
{
    if (auto* box = qobject_cast<QCheckBox*>(sender()))
        emit commitData(box);
}

void EQTableDelegate::commitAndCloseCombo()
{
    if (auto* box = qobject_cast<QComboBox*>(sender())) {
        emit commitData(box);
        emit closeEditor(box);
    }
}

void EQTableDelegate::commitAndCloseSpinBox()
{
    if (auto* box = qobject_cast<QSpinBox*>(sender())) {
        emit commitData(box);
        emit closeEditor(box);
    }
}

void EQTableDelegate::commitAndCloseDoubleSpinBox()
{
    if (auto* box = qobject_cast<QDoubleSpinBox*>(sender())) {
        emit commitData(box);
        emit closeEditor(box);
    }
}

bool EQTableDelegate::reloadsEditor(const QModelIndex& index) const
{
    return index.column() >= ZunEQModel::ColType && index.column() <= ZunEQModel::ColActive;
}

void EQTableDelegate::updateEditor(const QModelIndex& topLeft, const QModelIndex&)
{
    if (!m_view || !reloadsEditor(topLeft))
        return;
    if (QWidget* editor = m_view->indexWidget(topLeft))
        setEditorData(editor, topLeft);
}

// --- editors ---------------------------------------------------------------------------------

QString EQTableDelegate::cellText(const QModelIndex& index) const
{
    if (index.column() == ZunEQModel::ColType)
        return m_typeNames.value(index.data().toInt(), QStringLiteral(""));
    const QVariant value = index.data();
    if (value.userType() == QMetaType::Double)
        return QString::number(double(float(value.toDouble())), 'g', 6);
    return QString();
}

bool EQTableDelegate::paintText(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QString text = cellText(index);
    if (text.isNull())
        return false;
    const QStyleOptionViewItem aligned = setOptions(index, option);
    drawBackground(painter, aligned, index);
    drawDisplay(painter, aligned, aligned.rect, text);
    drawFocus(painter, aligned, aligned.rect);
    return true;
}

QSize EQTableDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QItemDelegate::sizeHint(option, index);
    const QString text = cellText(index);
    if (!text.isNull()) { // the text and the margins drawDisplay keeps on both sides
        const QStyle* style = m_view ? m_view->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_view) + 1;
        size.setWidth(option.fontMetrics.horizontalAdvance(text) + 2 * margin + 2);
    }
    return size;
}

void EQTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() == ZunEQModel::ColActive)
        openCheckBox(index);
    else if (!paintText(painter, option, index))
        QItemDelegate::paint(painter, option, index);
}

QWidget* EQTableDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const
{
    CEQManager* manager = m_zun ? m_zun->GetEQManager() : nullptr;
    switch (index.column()) {
    case ZunEQModel::ColType:
        return newCombo(parent);
    case ZunEQModel::ColFrequency: {
        CZunSpinBox* box = newSpinBox(parent, manager ? manager->frequencyRange() : nullptr);
        connect(box, &CZunSpinBox::valueChangedEditFinished, this, &EQTableDelegate::commitSpinBox,
                Qt::QueuedConnection);
        return box;
    }
    case ZunEQModel::ColGain:
    case ZunEQModel::ColQuality: {
        CZunDoubleSpinBox* box = newDoubleSpinBox(
            parent, manager ? (index.column() == ZunEQModel::ColGain ? manager->gainRange() : manager->qualityRange())
                            : nullptr);
        connect(box, &CZunDoubleSpinBox::valueChangedEditFinished, this, &EQTableDelegate::commitDoubleSpinBox,
                Qt::QueuedConnection);
        return box;
    }
    case ZunEQModel::ColActive:
        return newCheckBox(parent);
    default:
        return QItemDelegate::createEditor(parent, option, index);
    }
}

bool EQTableDelegate::holdsTyping(const QWidget* editor)
{
    // A line edit's modified flag is set by typing and cleared whenever the text is set
    // for it (a step, a value loaded, a finished entry read back).
    if (const auto* line = qobject_cast<const QLineEdit*>(editor))
        return line->isModified();
    const auto* line = editor ? editor->findChild<const QLineEdit*>() : nullptr;
    return line && line->isModified();
}

void EQTableDelegate::typingCommitted(QWidget* editor)
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line && editor)
        line = editor->findChild<QLineEdit*>();
    if (line)
        line->setModified(false);
}

void EQTableDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (holdsTyping(editor))
        return;
    const QVariant value = index.data();
    switch (index.column()) {
    case ZunEQModel::ColType:
        loadCombo(static_cast<QComboBox*>(editor), m_typeNames, value.toInt(), 15);
        break;
    case ZunEQModel::ColFrequency:
        loadFrequency(static_cast<CZunSpinBox*>(editor), value);
        break;
    case ZunEQModel::ColGain:
        setRange(static_cast<QDoubleSpinBox*>(editor), -24.0, 12.0);
        loadDoubleBox(static_cast<CZunDoubleSpinBox*>(editor), 1, value);
        break;
    case ZunEQModel::ColQuality:
        setRange(static_cast<QDoubleSpinBox*>(editor), 0.1, 160.0);
        loadDoubleBox(static_cast<CZunDoubleSpinBox*>(editor), 2, value);
        break;
    case ZunEQModel::ColActive:
        loadCheckBox(editor, value);
        break;
    default:
        QItemDelegate::setEditorData(editor, index);
        return;
    }
    emit const_cast<EQTableDelegate*>(this)->colSizeChangedEQ(index.column());
}

void EQTableDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    typingCommitted(editor);
    if (index.column() == ZunEQModel::ColType)
        setTwice(model, index, static_cast<QComboBox*>(editor)->currentIndex());
    else if (index.column() > ZunEQModel::ColType && index.column() <= ZunEQModel::ColActive)
        setTwice(model, index, valueOf(editor));
    else
        QItemDelegate::setModelData(editor, model, index);
}
