#pragma once

#include <QAbstractTableModel>
#include <QSharedPointer>
#include <QSize>
#include <QStringList>
#include <QVector>

class CZun;

// What the EQ table and the crossover-filter table share: the device they show, their
// headers and cell sizes, the roles they answer besides the display role, the look-up of a
// row by the number of its EQ or filter, and a reset that follows every listed object.
//
// Rows are read from the device's EQ manager at each access; the objects they show belong
// to the manager. A row's object that is gone reads as empty, and its row leaves with it.
class ZunFilterTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Finds the row of an EQ or filter by its number (column 0 only; role, hits and flags
    // are ignored).
    QModelIndexList match(const QModelIndex& start, int role, const QVariant& value, int hits = 1,
                          Qt::MatchFlags flags = Qt::MatchFlags(Qt::MatchStartsWith | Qt::MatchWrap)) const override;

    QSharedPointer<CZun> pointerCZun() const { return m_zun; }

signals:
    void pointerCZunChanged(QSharedPointer<CZun> zun);
    void signal_exception(QString text, QString caption);

protected:
    ZunFilterTableModel(const QStringList& headers, const QVector<QSize>& sizes, QObject* parent);
    ~ZunFilterTableModel() override;

    // The EQ's or filter's number of a row, -1 when its object is gone.
    virtual int numberAt(int row) const = 0;
    // Connects the row's object: its changes refresh the row, its end resets the model.
    virtual void follow(int row) = 0;

    // The objects' end resets the model (connected by follow).
protected slots:
    void onObjectGone();

protected:
    // The alignment and size-hint roles; invalid for any other role.
    QVariant layoutData(const QModelIndex& index, int role) const;
    // A new device: stop hearing the old one's EQ manager, keep the new one, reset.
    void replaceDevice(QSharedPointer<CZun> zun);
    void reset();
    // dataChanged over the whole row of an EQ or filter number.
    void rowChanged(int number);
    // "%1" right-aligned in two characters: the text the channel proxies filter on.
    static QString bankText(int bank) { return QString("%1").arg(bank, 2); }

    QSharedPointer<CZun> m_zun;

private:
    const QStringList m_headers;
    const QVector<QSize> m_sizes;
};
