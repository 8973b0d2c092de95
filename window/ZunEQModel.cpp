#include "ZunEQModel.h"

#include "CZun.h"

ZunEQModel::ZunEQModel(QSharedPointer<CZun> zun, QObject* parent) : QAbstractTableModel(parent), m_zun(std::move(zun)) {}

int ZunEQModel::rowCount(const QModelIndex&) const { return 0; }
int ZunEQModel::columnCount(const QModelIndex&) const { return 0; }
QVariant ZunEQModel::data(const QModelIndex&, int) const { return QVariant(); }

void ZunEQModel::setPointerCZun(QSharedPointer<CZun> zun)
{
    beginResetModel();
    m_zun = std::move(zun);
    endResetModel();
}

void ZunEQModel::reloadModel()
{
    beginResetModel();
    endResetModel();
}
