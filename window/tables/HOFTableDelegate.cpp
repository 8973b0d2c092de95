#include "HOFTableDelegate.h"

#include "CCmdMap.h"
#include "CEQManager.h"
#include "CZun.h"
#include "CZunDoubleSpinBox.h"
#include "CZunHighOrderDesign.h"
#include "CZunSpinBox.h"
#include "ComboModelCharacter.h"
#include "ComboModelOrder.h"
#include "ZunHOFModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
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

bool HOFTableDelegate::reloadsEditor(const QModelIndex& index) const
{
    return index.column() >= ZunHOFModel::ColType && index.column() <= ZunHOFModel::ColActive;
}

QString HOFTableDelegate::cellText(const QModelIndex& index) const
{
    const int value = index.data().toInt();
    switch (index.column()) {
    case ZunHOFModel::ColType:
        return m_typeNames.value(value, QStringLiteral(""));
    case ZunHOFModel::ColCharacter:
        if (index.sibling(index.row(), ZunHOFModel::ColType).data().toInt() == CZunHighOrderDesign::AllPass)
            return QStringLiteral("---");
        return m_characteristicNames.value(value, QStringLiteral(""));
    case ZunHOFModel::ColOrder:
        return m_orderNames.value(value, QStringLiteral(""));
    default:
        return EQTableDelegate::cellText(index);
    }
}

void HOFTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    switch (index.column()) {
    case ZunHOFModel::ColOrder: // nothing for an order that has no text
        if (m_orderNames.contains(index.data().toInt()))
            paintText(painter, option, index);
        return;
    case ZunHOFModel::ColActive:
        openCheckBox(index);
        return;
    default:
        if (!paintText(painter, option, index))
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
    case ZunHOFModel::ColOrder:
        return newCombo(parent);
    case ZunHOFModel::ColFrequency: {
        CZunSpinBox* box = newSpinBox(parent, manager ? manager->frequencyRange() : nullptr);
        connect(box, &CZunSpinBox::valueChangedEditFinished, this, &EQTableDelegate::commitSpinBox,
                Qt::QueuedConnection);
        connect(box, &QSpinBox::editingFinished, this, &EQTableDelegate::commitAndCloseSpinBox);
        return box;
    }
    case ZunHOFModel::ColRipple: {
        CZunDoubleSpinBox* box = newDoubleSpinBox(parent, manager ? manager->rippleRange() : nullptr);
        connect(box, &CZunDoubleSpinBox::valueChangedEditFinished, this, &EQTableDelegate::commitDoubleSpinBox,
                Qt::QueuedConnection);
        connect(box, &QDoubleSpinBox::editingFinished, this, &EQTableDelegate::commitAndCloseDoubleSpinBox);
        return box;
    }
    case ZunHOFModel::ColActive:
        return newCheckBox(parent);
    default:
        return QItemDelegate::createEditor(parent, option, index);
    }
}

void HOFTableDelegate::loadChoices(QComboBox* combo, QStandardItemModel* choices, const QMap<int, QString>& names,
                                   int current, int maxVisible)
{
    // Parented to the combo, which deletes its previous model of that parent.
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        auto* item = new QStandardItem(it.value());
        item->setData(it.key(), Qt::UserRole);
        choices->appendRow(item);
    }
    const QSignalBlocker block(combo);
    combo->setModel(choices);
    combo->setCurrentIndex(combo->findData(current));
    combo->setMaxVisibleItems(maxVisible);
}

void HOFTableDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (holdsTyping(editor))
        return;
    const QVariant value = index.data();
    auto* combo = qobject_cast<QComboBox*>(editor);
    switch (index.column()) {
    case ZunHOFModel::ColType:
        loadCombo(combo, m_typeNames, value.toInt(), 6);
        break;
    case ZunHOFModel::ColCharacter: {
        const int order = index.sibling(index.row(), ZunHOFModel::ColOrder).data().toInt();
        loadChoices(combo, new ComboModelCharacter(order, linkwitzRiley(), combo), m_characteristicNames, value.toInt(), 10);
        break;
    }
    case ZunHOFModel::ColOrder: {
        const int characteristic = index.sibling(index.row(), ZunHOFModel::ColCharacter).data().toInt();
        loadChoices(combo, new ComboModelOrder(characteristic, linkwitzRiley(), combo), m_orderNames, value.toInt(), 11);
        break;
    }
    case ZunHOFModel::ColFrequency:
        loadFrequency(static_cast<CZunSpinBox*>(editor), value);
        break;
    case ZunHOFModel::ColRipple: {
        auto* box = static_cast<CZunDoubleSpinBox*>(editor);
        box->setRange(0.1, 20.0);
        loadDoubleBox(box, 1, value);
        break;
    }
    case ZunHOFModel::ColActive:
        loadCheckBox(editor, value);
        break;
    default:
        QItemDelegate::setEditorData(editor, index);
        return;
    }
    emit const_cast<HOFTableDelegate*>(this)->colSizeChangedHOF(index.column());
}

void HOFTableDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    typingCommitted(editor);
    switch (index.column()) {
    case ZunHOFModel::ColType:
        setTwice(model, index, static_cast<QComboBox*>(editor)->currentIndex());
        return;
    case ZunHOFModel::ColCharacter:
    case ZunHOFModel::ColOrder:
        setTwice(model, index, static_cast<QComboBox*>(editor)->currentData(Qt::UserRole));
        return;
    default:
        if (index.column() > ZunHOFModel::ColOrder)
            setTwice(model, index, valueOf(editor));
        else
            QItemDelegate::setModelData(editor, model, index);
    }
}
