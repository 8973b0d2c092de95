#pragma once

#include <QAbstractTableModel>
#include <QSharedPointer>

class CZun;

// A table over the device's parametric equalisers, both DSPs; one per control window, shared by
// every channel page.
class ZunEQModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit ZunEQModel(QSharedPointer<CZun> zun, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

signals:
    void signal_exception(QString text, QString caption);

public slots:
    void setPointerCZun(QSharedPointer<CZun> zun);
    void reloadModel();

private:
    QSharedPointer<CZun> m_zun;
};
