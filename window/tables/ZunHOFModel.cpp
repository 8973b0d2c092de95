#include "ZunHOFModel.h"

#include "CEQManager.h"
#include "CZun.h"
#include "CZunHighOrderDesign.h"
#include "CZunHighOrderFilter.h"
#include "ZunHOFMimeData.h"

#include <QPointer>
#include <QSet>

#include <cmath>
#include <stdexcept>

namespace
{
// What an edit may change in a filter object, to be put back when the rebuild is refused.
struct FilterState
{
    explicit FilterState(const CZunHighOrderFilter& f)
        : bank(f.getBank()), passband(f.getPassband()), characteristic(f.getCharacteristic()),
          order(f.getOrder()), frequency(f.getFrequency()), ripple(f.getRipple()), bypass(f.isBypassed())
    {
    }

    // Only what differs goes back, through the object's own setters (none of them refuses a
    // value the object held before; a bypass change reaches the sections on the device again).
    void restore(CZunHighOrderFilter& f) const
    {
        if (f.getBank() != bank)
            f.SetBank(bank);
        if (f.getPassband() != passband)
            f.setPassband(passband);
        if (f.getCharacteristic() != characteristic)
            f.setCharacteristic(characteristic);
        if (f.getOrder() != order)
            f.setOrder(order);
        if (f.getFrequency() != frequency)
            f.SetFrequency(float(frequency));
        if (f.getRipple() != ripple)
            f.setRipple(float(ripple));
        if (f.isBypassed() != bypass)
            f.setBypass(bypass);
    }

    quint16 bank, passband, characteristic, order;
    double frequency, ripple;
    bool bypass;
};
} // namespace

ZunHOFModel::ZunHOFModel(QSharedPointer<CZun> zun, QObject* parent)
    : ZunFilterTableModel({"Nr", "Name", "Bank", "Type", "Character", "Order", "Freq.", "Ripple", "Active"},
                          {{10, 20}, {40, 20}, {10, 20}, {85, 20}, {80, 20}, {80, 20}, {55, 20}, {40, 20}, {16, 20}},
                          parent)
{
    setPointerCZun(std::move(zun));
}

void ZunHOFModel::setPointerCZun(QSharedPointer<CZun> zun)
{
    replaceDevice(std::move(zun));
    if (m_zun && m_zun->GetEQManager()) {
        connect(m_zun->GetEQManager(), &CEQManager::signal_NewHighOrderFilter, this,
                &ZunHOFModel::on_NewHighOrderFilter);
        connect(m_zun->GetEQManager(), &CEQManager::signal_HOFDeleted, this, &ZunHOFModel::on_HOFDeleted);
    }
    reset();
    emit pointerCZunChanged(m_zun);
}

void ZunHOFModel::follow(int row)
{
    if (CZunHighOrderFilter* f = filter(row)) {
        connect(f, &CZunHighOrderFilter::signal_Changed, this, &ZunHOFModel::on_HOFChanged, Qt::UniqueConnection);
        connect(f, &QObject::destroyed, this, &ZunHOFModel::onObjectGone, Qt::UniqueConnection);
    }
}

void ZunHOFModel::reloadModel() { reset(); }

void ZunHOFModel::on_HOFDeleted(int) { reset(); }

void ZunHOFModel::on_NewHighOrderFilter(CZunHighOrderFilter*) { reset(); }

void ZunHOFModel::on_HOFChanged(CZunHighOrderFilter* f)
{
    if (f)
        rowChanged(f->getNumber());
}

CZunHighOrderFilter* ZunHOFModel::filter(int row) const
{
    if (!m_zun || !m_zun->GetEQManager() || row < 0)
        return nullptr;
    return QPointer<CZunHighOrderFilter>(m_zun->GetEQManager()->HighOrderFilterAt(row)).data();
}

int ZunHOFModel::numberAt(int row) const
{
    const CZunHighOrderFilter* f = filter(row);
    return f ? f->getNumber() : -1;
}

int ZunHOFModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_zun || !m_zun->GetEQManager())
        return 0;
    return m_zun->GetEQManager()->CountHighOrderFilters(-1);
}

QVariant ZunHOFModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= ColumnCount)
        return QVariant();
    if (role != Qt::DisplayRole)
        return layoutData(index, role);
    const CZunHighOrderFilter* f = filter(index.row());
    if (!f)
        return QVariant();
    switch (index.column()) {
    case ColNr:
        return int(f->getNumber());
    case ColName:
        return f->GetName();
    case ColBank:
        return bankText(f->getBank());
    case ColType:
        return int(f->getPassband());
    case ColCharacter:
        return int(f->getCharacteristic());
    case ColOrder:
        return int(f->getOrder());
    case ColFrequency:
        return f->getFrequency();
    case ColRipple:
        return f->getCharacteristic() == CZunHighOrderDesign::Chebyshev ? QVariant(f->getRipple())
                                                                        : QVariant(QStringLiteral("---"));
    case ColActive:
        return !f->isBypassed();
    }
    return QVariant();
}

bool ZunHOFModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    QPointer<CZunHighOrderFilter> f = filter(index.row());
    if (!f)
        return false;
    if (index.column() == ColName) {
        if (value.toString() == f->GetName())
            return false;
        f->SetName(value.toString());
        emit dataChanged(index, index);
        return true;
    }
    const FilterState before(*f);
    switch (index.column()) {
    case ColBank:
        if (value.toInt() == f->getBank())
            return false;
        f->SetBank(value.toInt());
        break;
    case ColType:
        if (value.toInt() == f->getPassband())
            return false;
        f->setPassband(quint16(value.toInt()));
        break;
    case ColCharacter:
        if (value.toInt() == f->getCharacteristic())
            return false;
        f->setCharacteristic(quint16(value.toInt()));
        break;
    case ColOrder:
        if (value.toInt() == f->getOrder())
            return false;
        f->setOrder(quint16(value.toInt()));
        break;
    case ColFrequency:
        if (f->getFrequency() == value.toInt())
            return false;
        f->SetFrequency(float(value.toInt()));
        break;
    case ColRipple:
        if (std::abs(f->getRipple() - value.toDouble()) <= 0.01)
            return false;
        f->setRipple(float(value.toDouble()));
        break;
    case ColActive:
        if (f->isBypassed() != value.toBool())
            return false;
        f->setBypass(!value.toBool());
        break;
    default:
        return false;
    }
    try {
        f->rebuild();
    } catch (const std::logic_error& e) {
        // The processor keeps the old filter; so does the object (a refused capacity takes
        // the whole filter away, and then there is nothing to put back).
        if (f) {
            try {
                before.restore(*f);
            } catch (const std::exception& again) {
                qWarning("ZunHOFModel: the filter's previous values could not be restored: %s", again.what());
            }
        }
        emit signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
        return false;
    }
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags ZunHOFModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (!index.isValid())
        return f;
    const CZunHighOrderFilter* hof = filter(index.row());
    switch (index.column()) {
    case ColNr:
    case ColName:
    case ColBank:
        return f;
    case ColCharacter:
        return hof && hof->getPassband() != CZunHighOrderDesign::AllPass ? f | Qt::ItemIsEditable : f;
    case ColRipple:
        return hof && hof->getCharacteristic() == CZunHighOrderDesign::Chebyshev ? f | Qt::ItemIsEditable : f;
    default:
        return f | Qt::ItemIsEditable;
    }
}

QMimeData* ZunHOFModel::mimeData(const QModelIndexList& indexes) const
{
    auto* payload = new ZunHOFMimeData;
    QSet<int> rows;
    for (const QModelIndex& i : indexes) {
        if (!i.isValid() || rows.contains(i.row()) || numberAt(i.row()) < 0)
            continue;
        rows.insert(i.row());
        HO_FILTER_PARAMS p;
        p.number = quint16(numberAt(i.row()));
        m_zun->GetEQManager()->GetHighOrderFilter(p);
        // The record keeps no bypass state: the object's own goes with the copy.
        const QPointer<CZunHighOrderFilter> f = filter(i.row());
        p.active = f && !f->isBypassed();
        payload->appendFilter(p);
    }
    return payload;
}
