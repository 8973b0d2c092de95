#pragma once

#include "ZunFilterParams.h"

#include <QMimeData>
#include <QVector>

// Copied or dragged EQ rows of a filter table. It declares no format and carries no bytes:
// it is recognised by its class (qobject_cast), so it travels within this program only.
class ZunEQMimeData : public QMimeData
{
    Q_OBJECT
public:
    ZunEQMimeData() = default;

    QVector<EQ_PARAMS> getEQs() const { return m_eqs; }
    void appendEQ(const EQ_PARAMS& eq);
    int count() const { return m_eqs.size(); }

private:
    QVector<EQ_PARAMS> m_eqs;
};
