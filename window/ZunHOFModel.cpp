#include "ZunHOFModel.h"

#include "CEQManager.h"
#include "CZun.h"
#include "CZunHighOrderDesign.h"
#include "CZunHighOrderFilter.h"
#include "ZunHOFMimeData.h"

#include <QPointer>
#include <QSet>
#include <QSize>

#include <cmath>
#include <stdexcept>

namespace
{
const QSize sizeHints[ZunHOFModel::ColumnCount] = {{10, 20}, {40, 20}, {10, 20}, {85, 20}, {80, 20},
                                                   {80, 20}, {55, 20}, {40, 20}, {16, 20}};
const char* const headers[ZunHOFModel::ColumnCount] = {"Nr",    "Name",  "Bank",   "Type",  "Character",
                                                       "Order", "Freq.", "Ripple", "Active"};

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

ZunHOFModel::ZunHOFModel(QSharedPointer<CZun> zun, QObject* parent) : QAbstractTableModel(parent)
{
    setPointerCZun(std::move(zun));
}

ZunHOFModel::~ZunHOFModel()
{
    // As in ZunEQModel: the last reference may take the device and its filters along.
    QSharedPointer<CZun> last;
    last.swap(m_zun);
    if (last && last->GetEQManager())
        disconnect(last->GetEQManager(), nullptr, this, nullptr);
}

void ZunHOFModel::setPointerCZun(QSharedPointer<CZun> zun)
{
    if (m_zun && m_zun->GetEQManager())
        disconnect(m_zun->GetEQManager(), nullptr, this, nullptr);
    m_zun = std::move(zun);
    if (m_zun && m_zun->GetEQManager()) {
        connect(m_zun->GetEQManager(), &CEQManager::signal_NewHighOrderFilter, this,
                &ZunHOFModel::on_NewHighOrderFilter);
        connect(m_zun->GetEQManager(), &CEQManager::signal_HOFDeleted, this, &ZunHOFModel::on_HOFDeleted);
    }
    reset();
    emit pointerCZunChanged(m_zun);
}

void ZunHOFModel::reset()
{
    beginResetModel();
    endResetModel();
    for (int r = 0; r < rowCount(); ++r)
        if (CZunHighOrderFilter* f = filter(r))
            follow(f);
}

void ZunHOFModel::follow(CZunHighOrderFilter* f)
{
    connect(f, &CZunHighOrderFilter::signal_Changed, this, &ZunHOFModel::on_HOFChanged, Qt::UniqueConnection);
    connect(f, &QObject::destroyed, this, &ZunHOFModel::reloadModel, Qt::UniqueConnection);
}

void ZunHOFModel::reloadModel() { reset(); }

void ZunHOFModel::on_HOFDeleted(int) { reset(); }

void ZunHOFModel::on_NewHighOrderFilter(CZunHighOrderFilter* f)
{
    reset();
    if (f)
        follow(f);
}

void ZunHOFModel::on_HOFChanged(CZunHighOrderFilter* f)
{
    if (!f)
        return;
    const QModelIndexList found = match(index(0, 0), Qt::DisplayRole, int(f->getNumber()));
    if (!found.isEmpty())
        emit dataChanged(index(found.first().row(), 0), index(found.first().row(), ColumnCount - 1));
}

CZunHighOrderFilter* ZunHOFModel::filter(int row) const
{
    if (!m_zun || !m_zun->GetEQManager() || row < 0)
        return nullptr;
    return QPointer<CZunHighOrderFilter>(m_zun->GetEQManager()->HighOrderFilterAt(row)).data();
}

int ZunHOFModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_zun || !m_zun->GetEQManager())
        return 0;
    return m_zun->GetEQManager()->CountHighOrderFilters(-1);
}

int ZunHOFModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant ZunHOFModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= ColumnCount)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::SizeHintRole)
        return sizeHints[index.column()];
    if (role != Qt::DisplayRole)
        return QVariant();
    const CZunHighOrderFilter* f = filter(index.row());
    if (!f)
        return QVariant();
    switch (index.column()) {
    case ColNr:
        return int(f->getNumber());
    case ColName:
        return f->GetName();
    case ColBank:
        return QString("%1").arg(f->getBank(), 2);
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

QVariant ZunHOFModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    return section >= 0 && section < ColumnCount ? QVariant(QString::fromLatin1(headers[section])) : QVariant();
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

QModelIndexList ZunHOFModel::match(const QModelIndex& start, int, const QVariant& value, int, Qt::MatchFlags) const
{
    if (start.column() != 0)
        return {};
    const int number = value.toInt();
    for (int r = 0; r < rowCount(); ++r)
        if (const CZunHighOrderFilter* f = filter(r); f && f->getNumber() == number)
            return {index(r, 0)};
    return {};
}

QMimeData* ZunHOFModel::mimeData(const QModelIndexList& indexes) const
{
    auto* payload = new ZunHOFMimeData;
    if (!m_zun || !m_zun->GetEQManager())
        return payload;
    QSet<int> rows;
    for (const QModelIndex& i : indexes) {
        if (!i.isValid() || rows.contains(i.row()))
            continue;
        rows.insert(i.row());
        const CZunHighOrderFilter* f = filter(i.row());
        if (!f)
            continue;
        HO_FILTER_PARAMS p;
        p.number = f->getNumber();
        m_zun->GetEQManager()->GetHighOrderFilter(p);
        payload->appendFilter(p);
    }
    return payload;
}
