#include "ZunLimModel.h"

#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunOutput.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"

#include <QColor>

#include <cmath>

namespace
{
const char* const RowTitles[ZunLimModel::RowCount] = {
    QT_TRANSLATE_NOOP("ZunLimModel", "Gain"),          QT_TRANSLATE_NOOP("ZunLimModel", "Contin. Output"),
    QT_TRANSLATE_NOOP("ZunLimModel", "Surge"),         QT_TRANSLATE_NOOP("ZunLimModel", "Surge Duration"),
    QT_TRANSLATE_NOOP("ZunLimModel", "Thermo Limit"),  QT_TRANSLATE_NOOP("ZunLimModel", "RMS Time Const."),
    QT_TRANSLATE_NOOP("ZunLimModel", "Peak Limit"),    QT_TRANSLATE_NOOP("ZunLimModel", "Impedance"),
    QT_TRANSLATE_NOOP("ZunLimModel", "Max Output"),
};

// The surge duration is stored in seconds and shown in milliseconds.
double shownScale(int row) { return row == ZunLimModel::RowSurgeDuration ? 1000.0 : 1.0; }
} // namespace

ZunLimModel::ZunLimModel(QSharedPointer<CZun> zun, QObject* parent) : QAbstractTableModel(parent), m_zun(std::move(zun))
{
    if (m_zun && m_zun->GetFIRLimManager())
        connect(m_zun->GetFIRLimManager(), &CZunFIRLimManager::signal_FIRFilterChanged, this,
                &ZunLimModel::on_FIRFilterChanged);
}

int ZunLimModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount; }

int ZunLimModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_zun)
        return 0;
    const CZunHardwareInfo hw = m_zun->GetHardwareInfo();
    if (!hw.isValid())
        return 0;
    return hw.isDoubleBoard() ? 8 : 4;
}

QShPtrFLE ZunLimModel::setOfColumn(int column) const
{
    if (column < 0 || column >= 8)
        return QShPtrFLE();
    return m_sets[column < 4 ? 0 : 1];
}

bool ZunLimModel::isThresholdRow(int row)
{
    return row == RowContinuous || row == RowSurge || row == RowThermal || row == RowPeak;
}

const CZunParam* ZunLimModel::editorParam(int row) const
{
    switch (row) {
    case RowGain: return &CZunFIRLimManager::LimGainRange();
    case RowSurgeDuration: return &CZunFIRLimManager::LimSurgeDurationRange();
    case RowRmsTime: return &CZunFIRLimManager::LimRmsTimeRange();
    case RowImpedance: return &CZunFIRLimManager::LimImpedanceRange();
    case RowMaxOutput: return nullptr;
    default: break;
    }
    if (!isThresholdRow(row))
        return nullptr;
    switch (m_unit) {
    case ZunC::Watt: return &CZunFIRLimManager::LimPowerRangeW();
    case ZunC::VoltRms:
    case ZunC::VoltPeak: return &CZunFIRLimManager::LimVoltageRange();
    default: return &CZunFIRLimManager::LimLevelRangeDb();
    }
}

int ZunLimModel::editorDecimals(int row) const
{
    if (isThresholdRow(row) || row == RowMaxOutput) {
        switch (m_unit) {
        case ZunC::Watt: return 0;
        case ZunC::VoltRms:
        case ZunC::VoltPeak: return 1;
        default: return 2;
        }
    }
    return 1;
}

bool ZunLimModel::isCopiedPath(const QModelIndex& index)
{
    return index.isValid() && index.flags().testFlag(Qt::ItemIsUserCheckable);
}

double ZunLimModel::quantity(const FilterLimiterEWS& set, int row, int output) const
{
    switch (row) {
    case RowGain: return set.ampGain(output);
    case RowSurgeDuration: return set.surgeDuration(output);
    case RowRmsTime: return set.rmsTimeConstant(output);
    case RowImpedance: return set.impedance(output);
    case RowMaxOutput: return set.maxOutputLevel(output, m_unit, m_reference);
    default: return set.limiterThreshold(row, output, m_unit, m_reference);
    }
}

void ZunLimModel::store(FilterLimiterEWS& set, int row, int output, double value)
{
    storeAs(set, {row, output, value, m_unit, m_reference});
}

void ZunLimModel::storeAs(FilterLimiterEWS& set, const Edit& e)
{
    switch (e.row) {
    case RowGain: set.setAmpGain(e.value, e.output); break;
    case RowSurgeDuration: set.setSurgeDuration(e.value, e.output); break;
    case RowRmsTime: set.setRmsTimeConstant(e.value, e.output); break;
    case RowImpedance: set.setImpedance(e.value, e.output); break;
    case RowMaxOutput: set.setMaxLevel(e.value, e.output, e.unit, e.reference); break;
    default: set.setLimiterThreshold(e.row, e.value, e.output, e.unit, e.reference); break;
    }
}

bool ZunLimModel::sameShown(int row, double a, double b) const
{
    const double f = shownScale(row) * std::pow(10.0, editorDecimals(row));
    return std::llround(a * f) == std::llround(b * f);
}

QVariant ZunLimModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= RowCount || index.column() >= columnCount() || role >= 10)
        return QVariant();
    const int row = index.row();
    const int output = index.column() % 4;
    const QShPtrFLE set = setOfColumn(index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return set ? QVariant(quantity(*set, row, output)) : QVariant();
    case Qt::ToolTipRole:
        return set && isThresholdRow(row) ? set->checkMaxOutputLevel(row, output, m_unit, m_reference) : QString();
    case Qt::TextAlignmentRole:
        return int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        return set && set->hasLimiterText(row, output) ? QColor(Qt::yellow) : QColor(Qt::white);
    default:
        return QVariant();
    }
}

int ZunLimModel::linkedColumn(int column) const
{
    if (columnCount() != 8 || column < 0 || column >= 8)
        return -1;
    const int other = column < 4 ? column + 4 : column - 4;
    const QShPtrFLE a = setOfColumn(column);
    const QShPtrFLE b = setOfColumn(other);
    if (!a || !b)
        return -1;
    if (a == b)
        return other;
    const CZunFIRLimManager* fir = m_zun->GetFIRLimManager();
    const bool linked = (fir && fir->FirFiltersLinked()) || m_zun->GetStatusBuffer()->isLinked();
    return linked ? other : -1;
}

bool ZunLimModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= RowCount || index.column() >= columnCount())
        return false;
    const QShPtrFLE set = setOfColumn(index.column());
    if (!set)
        return false;
    const int row = index.row();
    const int output = index.column() % 4;
    bool ok = false;
    const double v = value.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    const double before = quantity(*set, row, output);
    // The value the operator sees is the one compared: an entry equal to it writes nothing.
    if (sameShown(row, v, before))
        return false;
    const bool modifiedBefore = set->limiterModified();
    try {
        store(*set, row, output, v);
    } catch (const std::exception& e) {
        emit signal_exception(QString::fromStdString(e.what()), tr("Limiter"));
    }
    const double after = quantity(*set, row, output);
    const bool changed = !sameShown(row, after, before) || set->limiterModified() != modifiedBefore;
    // A value the set did not take as typed (refused, or under its resolution) is not
    // reported as stored; what it did keep is shown.
    if (!changed)
        return false;
    const int dsp = index.column() < 4 ? 0 : 1;
    m_pending[dsp].append({row, output, v, m_unit, m_reference});
    // Linked DSPs run one set: the other DSP's column shows (and keeps) the same edit.
    const int partner = linkedColumn(index.column());
    if (partner >= 0) {
        const QShPtrFLE other = setOfColumn(partner);
        if (other != set) {
            try {
                store(*other, row, output, v);
            } catch (const std::exception&) {
                // Refused there as well: the message above said why.
            }
        }
        m_pending[1 - dsp].append({row, output, v, m_unit, m_reference});
    }
    emit dataChanged(this->index(0, index.column()), this->index(RowCount - 1, index.column()));
    if (partner >= 0)
        emit dataChanged(this->index(0, partner), this->index(RowCount - 1, partner));
    return sameShown(row, after, v);
}

QVariant ZunLimModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section >= 0 && section < RowCount ? tr(RowTitles[section]) : QVariant();
    const CRoutingManager* routing = m_zun ? m_zun->GetRoutingManager() : nullptr;
    const QList<QPointer<CZunOutput>> outputs = routing ? routing->GetOutputs() : QList<QPointer<CZunOutput>>();
    if (section >= 0 && section < outputs.size() && outputs.at(section))
        return outputs.at(section)->GetName();
    return section + 1;
}

Qt::ItemFlags ZunLimModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || index.row() >= RowCount || index.column() >= columnCount())
        return Qt::NoItemFlags;
    const Qt::ItemFlags base = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    const int row = index.row();
    const int output = index.column() % 4;
    ZunC::CopyFIRCoeffsMode mode = ZunC::NoCopies;
    try {
        mode = m_zun->CopyFIRCoeffsMode(index.column() < 4 ? 1 : 2);
    } catch (const std::exception&) {
        // A map without the copy parameter: the paths are the outputs' own.
    }
    if ((mode == ZunC::CopyMidHighToSubLow && output <= 1) || (mode == ZunC::CopyHighToSubLowMid && output <= 2))
        return base | Qt::ItemIsUserCheckable;
    const QShPtrFLE set = setOfColumn(index.column());
    if (!set)
        return base;
    if (row <= RowSurgeDuration && !set->isOwnLimiterPath(output))
        return base | Qt::ItemIsUserCheckable;
    if (row >= RowThermal && row <= RowPeak && set->pathFlag(output) == 0)
        return base | Qt::ItemIsUserCheckable;
    if (row == RowMaxOutput)
        return base;
    return base | Qt::ItemIsEditable;
}

void ZunLimModel::on_FIRFilterChanged(int dsp, QShPtrFLE set, int position)
{
    Q_UNUSED(position);
    if (dsp != 1 && dsp != 2)
        return; // the model has one set per DSP and nothing else to show
    const int d = dsp - 1;
    QVector<Edit>& pending = m_pending[d];
    m_carried[d] = false;
    if (set != m_sets[d] && !(pending.isEmpty() && m_submitted[d].isEmpty())) {
        const QVector<Edit> edits = m_submitted[d] + pending;
        pending.clear();
        if (set && m_sets[d] && set->sameFilter(*m_sets[d])) {
            m_submitted[d].clear();
            // The same filter again (stored by a submit, or reloaded): what the operator
            // typed and the set does not hold stays what the table shows, still to be sent.
            for (const Edit& e : edits) {
                try {
                    const QByteArray before = set->toByteArray();
                    storeAs(*set, e);
                    if (set->toByteArray() != before)
                        pending.append(e);
                } catch (const std::exception&) {
                    // Taken once already; a value the new set cannot hold is dropped.
                }
            }
            m_carried[d] = !pending.isEmpty();
        } else {
            m_submitted[d].clear();
        }
    }
    beginResetModel();
    m_sets[d] = set;
    endResetModel();
}

void ZunLimModel::submitted()
{
    for (int d = 0; d < 2; ++d) {
        m_submitted[d] += m_pending[d];
        m_pending[d].clear();
        m_carried[d] = false;
    }
}

void ZunLimModel::setUnitAndReference(ZunC::Units unit, ZunC::LimiterReference reference)
{
    beginResetModel();
    m_carried[0] = m_carried[1] = false;
    m_unit = unit;
    m_reference = reference;
    endResetModel();
}

void ZunLimModel::reloadModel()
{
    beginResetModel();
    m_carried[0] = m_carried[1] = false;
    endResetModel();
}
