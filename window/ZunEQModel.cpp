#include "ZunEQModel.h"

#include "CEQManager.h"
#include "CZun.h"
#include "CZunBiquad.h"
#include "ZunEQMimeData.h"

#include <QPointer>
#include <QSet>
#include <QSize>

#include <cmath>
#include <stdexcept>

namespace
{
const QSize sizeHints[ZunEQModel::ColumnCount] = {{10, 20}, {40, 20}, {10, 20}, {90, 20},
                                                  {55, 20}, {50, 20}, {45, 20}, {16, 20}};
const char* const headers[ZunEQModel::ColumnCount] = {"Nr", "Name", "Bank", "Type",
                                                      "Freq.", "Gain", "Quality", "Active"};
} // namespace

ZunEQModel::ZunEQModel(QSharedPointer<CZun> zun, QObject* parent) : QAbstractTableModel(parent)
{
    setPointerCZun(std::move(zun));
}

ZunEQModel::~ZunEQModel()
{
    // When this model holds the last reference, the device and its EQs go with it: their
    // last signals must find an empty model.
    QSharedPointer<CZun> last;
    last.swap(m_zun);
    if (last && last->GetEQManager())
        disconnect(last->GetEQManager(), nullptr, this, nullptr);
}

void ZunEQModel::setPointerCZun(QSharedPointer<CZun> zun)
{
    if (m_zun && m_zun->GetEQManager())
        disconnect(m_zun->GetEQManager(), nullptr, this, nullptr);
    m_zun = std::move(zun);
    if (m_zun && m_zun->GetEQManager()) {
        connect(m_zun->GetEQManager(), &CEQManager::signal_NewEQ, this, &ZunEQModel::on_NewEQ);
        connect(m_zun->GetEQManager(), &CEQManager::signal_EQDeleted, this, &ZunEQModel::on_EQDeleted);
    }
    reset();
    emit pointerCZunChanged(m_zun);
}

void ZunEQModel::reset()
{
    beginResetModel();
    endResetModel();
    // EQs that existed before this model (or before a reload) are followed as well.
    for (int r = 0; r < rowCount(); ++r)
        if (CZunBiquad* eq = biquad(r))
            follow(eq);
}

void ZunEQModel::follow(CZunBiquad* eq)
{
    connect(eq, &CZunBiquad::signal_Changed, this, &ZunEQModel::on_EQChanged, Qt::UniqueConnection);
    // The manager drops an EQ from its list before the object goes; the rows follow at once
    // rather than when the processor's answer arrives.
    connect(eq, &QObject::destroyed, this, &ZunEQModel::reloadModel, Qt::UniqueConnection);
}

void ZunEQModel::reloadModel() { reset(); }

void ZunEQModel::on_EQDeleted(int) { reset(); }

void ZunEQModel::on_NewEQ(CZunBiquad* eq)
{
    reset();
    if (eq)
        follow(eq);
}

void ZunEQModel::on_EQChanged(CZunBiquad* eq)
{
    if (!eq)
        return;
    const QModelIndexList found = match(index(0, 0), Qt::DisplayRole, int(eq->getNumber()), 1,
                                        Qt::MatchFlags(Qt::MatchStartsWith | Qt::MatchWrap));
    if (!found.isEmpty())
        emit dataChanged(index(found.first().row(), 0), index(found.first().row(), ColumnCount - 1));
}

CZunBiquad* ZunEQModel::biquad(int row) const
{
    if (!m_zun || !m_zun->GetEQManager() || row < 0)
        return nullptr;
    return QPointer<CZunBiquad>(m_zun->GetEQManager()->BiquadAt(row)).data();
}

int ZunEQModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_zun || !m_zun->GetEQManager())
        return 0;
    return m_zun->GetEQManager()->CountActiveEQs(-1);
}

int ZunEQModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant ZunEQModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= ColumnCount)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::SizeHintRole)
        return sizeHints[index.column()];
    if (role != Qt::DisplayRole)
        return QVariant();
    const CZunBiquad* eq = biquad(index.row());
    if (!eq)
        return QVariant();
    switch (index.column()) {
    case ColNr:
        return int(eq->getNumber());
    case ColName:
        return eq->GetName();
    case ColBank:
        return QString("%1").arg(eq->getBank(), 2);
    case ColType:
        return int(eq->getType());
    case ColFrequency:
        return eq->getFrequency();
    case ColGain:
        return eq->gainFlags() & Qt::ItemIsEditable ? QVariant(eq->getGain()) : QVariant(QStringLiteral("---"));
    case ColQuality:
        return eq->qualityFlags() & Qt::ItemIsEditable ? QVariant(eq->getQuality()) : QVariant(QStringLiteral("---"));
    case ColActive:
        return !eq->isBypassed();
    }
    return QVariant();
}

bool ZunEQModel::write(CZunBiquad* eq, bool typeChange)
{
    try {
        eq->writeToDevice(typeChange);
    } catch (const std::logic_error& e) {
        emit signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
        return false;
    }
    return true;
}

bool ZunEQModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    QPointer<CZunBiquad> eq = biquad(index.row());
    if (!eq)
        return false;
    bool done = false;
    switch (index.column()) {
    case ColName:
        if (value.toString() == eq->GetName())
            return false;
        eq->SetName(value.toString());
        emit dataChanged(index, index);
        return true;
    case ColBank:
        if (value.toInt() == eq->getBank())
            return false;
        eq->setBank(value.toInt());
        done = write(eq, false);
        break;
    case ColType: {
        if (value.toInt() == eq->getType())
            return false;
        const quint16 old = eq->getType();
        eq->setType(quint16(value.toInt()));
        done = write(eq, true);
        if (!done && eq)
            eq->setType(old);
        break;
    }
    case ColFrequency:
        if (eq->getFrequency() == value.toInt())
            return false;
        eq->setFrequency(float(value.toInt()));
        done = write(eq, false);
        break;
    case ColGain:
        if (std::abs(eq->getGain() - value.toDouble()) <= 0.01)
            return false;
        eq->setGain(float(value.toDouble()));
        done = write(eq, false);
        break;
    case ColQuality:
        if (std::abs(eq->getQuality() - value.toDouble()) <= 0.01)
            return false;
        eq->setQuality(float(value.toDouble()));
        done = write(eq, false);
        break;
    case ColActive:
        if (eq->isBypassed() != value.toBool())
            return false;
        eq->setBypass(!value.toBool());
        done = write(eq, false);
        break;
    default:
        return false;
    }
    if (done)
        emit dataChanged(index, index);
    return done;
}

QVariant ZunEQModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    return section >= 0 && section < ColumnCount ? QVariant(QString::fromLatin1(headers[section])) : QVariant();
}

Qt::ItemFlags ZunEQModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (!index.isValid())
        return f;
    const CZunBiquad* eq = biquad(index.row());
    switch (index.column()) {
    case ColNr:
        return f;
    case ColGain:
        return eq && CZunBiquadDesign::usesGain(eq->getType()) ? f | Qt::ItemIsEditable : f;
    case ColQuality:
        return eq && CZunBiquadDesign::usesQuality(eq->getType()) ? f | Qt::ItemIsEditable : f;
    default:
        return f | Qt::ItemIsEditable;
    }
}

QModelIndexList ZunEQModel::match(const QModelIndex& start, int, const QVariant& value, int, Qt::MatchFlags) const
{
    if (start.column() != 0)
        return {};
    const int number = value.toInt();
    for (int r = 0; r < rowCount(); ++r)
        if (const CZunBiquad* eq = biquad(r); eq && eq->getNumber() == number)
            return {index(r, 0)};
    return {};
}

QMimeData* ZunEQModel::mimeData(const QModelIndexList& indexes) const
{
    auto* payload = new ZunEQMimeData;
    if (!m_zun || !m_zun->GetEQManager())
        return payload;
    QSet<int> rows;
    for (const QModelIndex& i : indexes) {
        if (!i.isValid() || rows.contains(i.row()))
            continue;
        rows.insert(i.row());
        const CZunBiquad* eq = biquad(i.row());
        if (!eq)
            continue;
        EQ_PARAMS p;
        p.number = eq->getNumber();
        m_zun->GetEQManager()->GetEQ(p);
        payload->appendEQ(p);
    }
    return payload;
}
