#include "ZunHOFModel.h"

#include "CZun.h"

ZunHOFModel::ZunHOFModel(QSharedPointer<CZun> zun, QObject* parent) : QAbstractTableModel(parent), m_zun(std::move(zun)) {}

int ZunHOFModel::rowCount(const QModelIndex&) const { return 0; }
int ZunHOFModel::columnCount(const QModelIndex&) const { return 0; }
QVariant ZunHOFModel::data(const QModelIndex&, int) const { return QVariant(); }

void ZunHOFModel::setPointerCZun(QSharedPointer<CZun> zun)
{
    beginResetModel();
    m_zun = std::move(zun);
    endResetModel();
}

void ZunHOFModel::reloadModel()
{
    beginResetModel();
    endResetModel();
}
