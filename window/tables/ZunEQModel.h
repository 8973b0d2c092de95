#pragma once

#include "ZunFilterTableModel.h"

class CZunBiquad;

// A table over every parametric EQ of one device, both DSPs: the EQ manager's list of DSP 0
// first, then that of DSP 1. One per control window, shared by every channel page, which
// shows its own channel through a ZunEQProxyModel on the "Bank" column.
//
// Only the display, alignment and size-hint roles are answered (the edit role is not), and
// setData acts on the edit role only: the delegate sets each value twice, display role first.
class ZunEQModel : public ZunFilterTableModel
{
    Q_OBJECT
public:
    enum Column { ColNr, ColName, ColBank, ColType, ColFrequency, ColGain, ColQuality, ColActive, ColumnCount };

    explicit ZunEQModel(QSharedPointer<CZun> zun, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A ZunEQMimeData with one record per distinct row of the indexes, in their order.
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

    // The EQ of a row; null when the row's object is gone.
    CZunBiquad* biquad(int row) const;

public slots:
    void setPointerCZun(QSharedPointer<CZun> zun);
    void reloadModel();
    void on_EQDeleted(int number);
    void on_NewEQ(CZunBiquad* eq);
    void on_EQChanged(CZunBiquad* eq);

protected:
    int numberAt(int row) const override;
    void follow(int row) override;

private:
    bool write(CZunBiquad* eq, bool typeChange);
};
