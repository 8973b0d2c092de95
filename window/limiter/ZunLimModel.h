#pragma once

#include "FilterLimiterEWS.h"
#include "ZunC.h"

#include <QAbstractTableModel>
#include <QSharedPointer>
#include <QVector>

class CZun;
class CZunParam;

// The limiters of the FIR/limiter sets active on the two DSPs: one column per analog
// output (DSP 0's outputs first), one row per limiter quantity. Thresholds and the
// maximum output are shown and typed in the chosen unit and reference point; every
// conversion is the filter set's own. Edits change the sets in memory only: the limiter
// tab's Submit sends them.
class ZunLimModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Row { RowGain = 0, RowContinuous, RowSurge, RowSurgeDuration, RowThermal, RowRmsTime, RowPeak,
               RowImpedance, RowMaxOutput, RowCount };

    explicit ZunLimModel(QSharedPointer<CZun> zun, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    ZunC::Units unit() const { return m_unit; }
    ZunC::LimiterReference reference() const { return m_reference; }
    QShPtrFLE setOfColumn(int column) const;

    static bool isThresholdRow(int row);
    // The editor's breakpoint table of a row in the current unit; null for the read-only
    // maximum output. The surge duration's table is in milliseconds.
    const CZunParam* editorParam(int row) const;
    // Decimals of the row's editor in the current unit; the resolution in which a typed
    // value counts as changed.
    int editorDecimals(int row) const;
    // Whether a cell carries the copied-path mark (shown as "->", never editable).
    static bool isCopiedPath(const QModelIndex& index);

    // Edits made since the last submit stay with the filter they were typed for: a set of
    // the same filter that the manager reports (the stored result of a submit, a reload)
    // gets them again, another filter drops them. So do submitted edits until a set of
    // that filter holds them: a submit the link took with it stored nothing. True when the
    // last set reported for a DSP got such edits: they are still to be sent.
    bool carriesEdits() const { return m_carried[0] || m_carried[1]; }
    // The edits made so far are being sent: from now on only later ones are pending.
    void submitted();

signals:
    void signal_exception(QString text, QString caption);

public slots:
    void on_FIRFilterChanged(int dsp, QShPtrFLE set, int position);
    void setUnitAndReference(ZunC::Units unit, ZunC::LimiterReference reference);
    void reloadModel();

private:
    // The row's quantity for an output, in the model's unit and reference (row 3 in s).
    double quantity(const FilterLimiterEWS& set, int row, int output) const;
    void store(FilterLimiterEWS& set, int row, int output, double value);
    // Equal as the operator sees them: at the editor's resolution.
    bool sameShown(int row, double a, double b) const;
    // The column of the same output on the other DSP when the two DSPs share their set
    // (one object, or linked by the manager or in the processor); -1 otherwise.
    int linkedColumn(int column) const;

    struct Edit
    {
        int row;
        int output;
        double value;
        ZunC::Units unit;
        ZunC::LimiterReference reference;
    };
    // An edit in the unit and reference it was typed in.
    static void storeAs(FilterLimiterEWS& set, const Edit& edit);

    QSharedPointer<CZun> m_zun;
    QShPtrFLE m_sets[2];
    QVector<Edit> m_pending[2];
    QVector<Edit> m_submitted[2]; // sent, and not yet seen in a reported set
    bool m_carried[2] = {false, false};
    ZunC::Units m_unit = ZunC::Watt;
    ZunC::LimiterReference m_reference = ZunC::AmplifierOutput;
};
