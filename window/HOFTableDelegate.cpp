#include "HOFTableDelegate.h"

#include "CCmdMap.h"
#include "CEQManager.h"
#include "CZun.h"
#include "CZunHighOrderDesign.h"
#include "ComboModelCharacter.h"
#include "ComboModelOrder.h"
#include "ZunHOFModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardItem>
#include <QTableView>

HOFTableDelegate::HOFTableDelegate(QSharedPointer<CZun> zun, QTableView* parent)
    : EQTableDelegate(zun, parent), m_orderNames(orderNames())
{
    if (m_zun && m_zun->GetEQManager()) {
        m_typeNames = m_zun->GetEQManager()->GetHOFTypeNames(false);
        m_characteristicNames = m_zun->GetEQManager()->GetHOFCharacteristicNames(false);
    }
}

QMap<int, QString> HOFTableDelegate::orderNames()
{
    QMap<int, QString> names;
    for (int order = 1; order <= 10; ++order)
        names.insert(order, QString("%1 dB/Oct").arg(6 * order));
    return names;
}

int HOFTableDelegate::linkwitzRiley() const
{
    // Looked up each time: the map follows the device's firmware.
    return m_zun && m_zun->GetCmdMap() ? m_zun->GetCmdMap()->getIntConst(QStringLiteral("Inf_Sel_Char_HOF_LinkRiley"))
                                       : int(CZunHighOrderDesign::LinkwitzRiley);
}

void HOFTableDelegate::updateEditor(const QModelIndex& topLeft, const QModelIndex&)
{
    if (!m_view || topLeft.column() < ZunHOFModel::ColType || topLeft.column() > ZunHOFModel::ColActive)
        return;
    if (QWidget* editor = m_view->indexWidget(topLeft))
        setEditorData(editor, topLeft);
}

void HOFTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int value = index.data().toInt();
    switch (index.column()) {
    case ZunHOFModel::ColType:
        drawDisplay(painter, option, option.rect, m_typeNames.value(value));
        drawFocus(painter, option, option.rect);
        return;
    case ZunHOFModel::ColCharacter: {
        const bool allPass = index.sibling(index.row(), ZunHOFModel::ColType).data().toInt() == CZunHighOrderDesign::AllPass;
        drawDisplay(painter, option, option.rect, allPass ? QStringLiteral("---") : m_characteristicNames.value(value));
        drawFocus(painter, option, option.rect);
        return;
    }
    case ZunHOFModel::ColOrder:
        if (m_orderNames.contains(value)) {
            drawDisplay(painter, option, option.rect, m_orderNames.value(value));
            drawFocus(painter, option, option.rect);
        }
        return;
    case ZunHOFModel::ColActive:
        openCheckBox(index);
        return;
    default:
        QItemDelegate::paint(painter, option, index);
    }
}

QWidget* HOFTableDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const
{
    CEQManager* manager = m_zun ? m_zun->GetEQManager() : nullptr;
    switch (index.column()) {
    case ZunHOFModel::ColType:
    case ZunHOFModel::ColCharacter:
    case ZunHOFModel::ColOrder: {
        auto* combo = new QComboBox(parent);
        connect(combo, QOverload<int>::of(&QComboBox::activated), this, &EQTableDelegate::commitAndCloseCombo);
        return combo;
    }
    case ZunHOFModel::ColFrequency: {
        QSpinBox* box = newSpinBox(parent, manager ? manager->frequencyRange() : nullptr);
        commitLater(box);
        connect(box, &QSpinBox::editingFinished, this, &EQTableDelegate::commitAndCloseSpinBox);
        return box;
    }
    case ZunHOFModel::ColRipple: {
        QDoubleSpinBox* box = newDoubleSpinBox(parent, manager ? manager->rippleRange() : nullptr);
        commitLater(box);
        connect(box, &QDoubleSpinBox::editingFinished, this, &EQTableDelegate::commitAndCloseDoubleSpinBox);
        return box;
    }
    case ZunHOFModel::ColActive: {
        auto* box = new QCheckBox(parent);
        connect(box, &QCheckBox::stateChanged, this, &EQTableDelegate::commitCheckBox);
        return box;
    }
    default:
        return QItemDelegate::createEditor(parent, option, index);
    }
}

void HOFTableDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    const QVariant value = index.data();
    switch (index.column()) {
    case ZunHOFModel::ColType: {
        auto* combo = static_cast<QComboBox*>(editor);
        const QSignalBlocker block(combo);
        combo->clear();
        for (auto it = m_typeNames.cbegin(); it != m_typeNames.cend(); ++it)
            combo->addItem(it.value(), it.key());
        combo->setCurrentIndex(value.toInt());
        combo->setMaxVisibleItems(6);
        break;
    }
    case ZunHOFModel::ColCharacter: {
        auto* combo = static_cast<QComboBox*>(editor);
        const QSignalBlocker block(combo);
        // Parented to the combo, which deletes its previous model of that parent.
        const int order = index.sibling(index.row(), ZunHOFModel::ColOrder).data().toInt();
        auto* choices = new ComboModelCharacter(order, linkwitzRiley(), combo);
        for (auto it = m_characteristicNames.cbegin(); it != m_characteristicNames.cend(); ++it) {
            auto* item = new QStandardItem(it.value());
            item->setData(it.key(), Qt::UserRole);
            choices->appendRow(item);
        }
        combo->setModel(choices);
        combo->setCurrentIndex(combo->findData(value.toInt()));
        combo->setMaxVisibleItems(10);
        break;
    }
    case ZunHOFModel::ColOrder: {
        auto* combo = static_cast<QComboBox*>(editor);
        const QSignalBlocker block(combo);
        const int characteristic = index.sibling(index.row(), ZunHOFModel::ColCharacter).data().toInt();
        auto* choices = new ComboModelOrder(characteristic, linkwitzRiley(), combo);
        for (auto it = m_orderNames.cbegin(); it != m_orderNames.cend(); ++it) {
            auto* item = new QStandardItem(it.value());
            item->setData(it.key(), Qt::UserRole);
            choices->appendRow(item);
        }
        combo->setModel(choices);
        combo->setCurrentIndex(combo->findData(value.toInt()));
        combo->setMaxVisibleItems(11);
        break;
    }
    case ZunHOFModel::ColFrequency: {
        auto* box = static_cast<QSpinBox*>(editor);
        if (m_zun && m_zun->GetEQManager()) {
            // As the EQ editor: a crossover cannot sit above half the sample rate either.
            CEQManagerInterface::Limits range;
            m_zun->GetEQManager()->GetFrequencyRange(range);
            const QSignalBlocker block(box);
            box->setRange(int(range.minimum), int(range.maximum));
        }
        setValueGuarded(box, value.toDouble());
        break;
    }
    case ZunHOFModel::ColRipple: {
        auto* box = static_cast<QDoubleSpinBox*>(editor);
        const QSignalBlocker block(box);
        box->setRange(0.1, 20.0);
        box->setDecimals(1);
        box->setSingleStep(0.1);
        setValueGuarded(box, value.toDouble());
        break;
    }
    case ZunHOFModel::ColActive: {
        auto* box = static_cast<QCheckBox*>(editor);
        const QSignalBlocker block(box);
        box->setChecked(value.toBool());
        break;
    }
    default:
        QItemDelegate::setEditorData(editor, index);
        return;
    }
    emit const_cast<HOFTableDelegate*>(this)->colSizeChangedHOF(index.column());
}

void HOFTableDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    QVariant value;
    switch (index.column()) {
    case ZunHOFModel::ColType:
        value = static_cast<QComboBox*>(editor)->currentIndex();
        break;
    case ZunHOFModel::ColCharacter:
    case ZunHOFModel::ColOrder:
        value = static_cast<QComboBox*>(editor)->currentData(Qt::UserRole);
        break;
    case ZunHOFModel::ColFrequency:
        value = static_cast<QSpinBox*>(editor)->value();
        break;
    case ZunHOFModel::ColRipple:
        value = static_cast<QDoubleSpinBox*>(editor)->value();
        break;
    case ZunHOFModel::ColActive:
        value = static_cast<QCheckBox*>(editor)->isChecked();
        break;
    default:
        QItemDelegate::setModelData(editor, model, index);
        return;
    }
    model->setData(index, value, Qt::DisplayRole);
    model->setData(index, value, Qt::EditRole);
}
