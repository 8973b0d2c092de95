#include "ZunEQModel.h"

#include "CEQManager.h"
#include "CZun.h"
#include "CZunBiquad.h"
#include "ZunEQMimeData.h"

#include <QPointer>
#include <QSet>

#include <cmath>
#include <stdexcept>

ZunEQModel::ZunEQModel(QSharedPointer<CZun> zun, QObject* parent)
    : ZunFilterTableModel({"Nr", "Name", "Bank", "Type", "Freq.", "Gain", "Quality", "Active"},
                          {{10, 20}, {40, 20}, {10, 20}, {90, 20}, {55, 20}, {50, 20}, {45, 20}, {16, 20}}, parent)
{
    setPointerCZun(std::move(zun));
}

void ZunEQModel::setPointerCZun(QSharedPointer<CZun> zun)
{
    replaceDevice(std::move(zun));
    if (m_zun && m_zun->GetEQManager()) {
        connect(m_zun->GetEQManager(), &CEQManager::signal_NewEQ, this, &ZunEQModel::on_NewEQ);
        connect(m_zun->GetEQManager(), &CEQManager::signal_EQDeleted, this, &ZunEQModel::on_EQDeleted);
    }
    reset();
    emit pointerCZunChanged(m_zun);
}

void ZunEQModel::follow(int row)
{
    if (CZunBiquad* eq = biquad(row)) {
        connect(eq, &CZunBiquad::signal_Changed, this, &ZunEQModel::on_EQChanged, Qt::UniqueConnection);
        // The manager drops an EQ from its list before the object goes; the rows follow at
        // once rather than when the processor's answer arrives.
        connect(eq, &QObject::destroyed, this, &ZunEQModel::onObjectGone, Qt::UniqueConnection);
    }
}

void ZunEQModel::reloadModel() { reset(); }

void ZunEQModel::on_EQDeleted(int) { reset(); }

void ZunEQModel::on_NewEQ(CZunBiquad*) { reset(); }

void ZunEQModel::on_EQChanged(CZunBiquad* eq)
{
    if (eq)
        rowChanged(eq->getNumber());
}

CZunBiquad* ZunEQModel::biquad(int row) const
{
    if (!m_zun || !m_zun->GetEQManager() || row < 0)
        return nullptr;
    return QPointer<CZunBiquad>(m_zun->GetEQManager()->BiquadAt(row)).data();
}

int ZunEQModel::numberAt(int row) const
{
    const CZunBiquad* eq = biquad(row);
    return eq ? eq->getNumber() : -1;
}

int ZunEQModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_zun || !m_zun->GetEQManager())
        return 0;
    return m_zun->GetEQManager()->CountActiveEQs(-1);
}

QVariant ZunEQModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= ColumnCount)
        return QVariant();
    if (role != Qt::DisplayRole)
        return layoutData(index, role);
    const CZunBiquad* eq = biquad(index.row());
    if (!eq)
        return QVariant();
    switch (index.column()) {
    case ColNr:
        return int(eq->getNumber());
    case ColName:
        return eq->GetName();
    case ColBank:
        return bankText(eq->getBank());
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

QMimeData* ZunEQModel::mimeData(const QModelIndexList& indexes) const
{
    auto* payload = new ZunEQMimeData;
    QSet<int> rows;
    for (const QModelIndex& i : indexes) {
        if (!i.isValid() || rows.contains(i.row()) || numberAt(i.row()) < 0)
            continue;
        rows.insert(i.row());
        EQ_PARAMS p;
        p.number = quint16(numberAt(i.row()));
        m_zun->GetEQManager()->GetEQ(p);
        payload->appendEQ(p);
    }
    return payload;
}
