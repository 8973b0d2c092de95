#pragma once

#include "ZunFilterParams.h"

#include <QMimeData>
#include <QVector>

// Copied or dragged crossover-filter rows of a filter table; like ZunEQMimeData it is
// recognised by its class only.
class ZunHOFMimeData : public QMimeData
{
    Q_OBJECT
public:
    ZunHOFMimeData() = default;

    QVector<HO_FILTER_PARAMS> getFilters() const { return m_filters; }
    void appendFilter(const HO_FILTER_PARAMS& filter);
    int count() const { return m_filters.size(); }

private:
    QVector<HO_FILTER_PARAMS> m_filters;
};
