#include "CZunAbstractFrequencyResponse.h"

CZunAbstractFrequencyResponse::CZunAbstractFrequencyResponse(int points, double start, double end,
                                                             QObject* parent)
    : QObject(parent),
      m_grid(CZunFrequencyGrid::get(points, start, end)),
      m_frequencies(new QVector<double>(m_grid->frequencies())),
      // Shared with the grid until the response is first computed (writing detaches).
      m_magnitude(new QVector<double>(m_grid->zeros())),
      m_phase(new QVector<double>(m_grid->zeros()))
{
}

CZunAbstractFrequencyResponse::~CZunAbstractFrequencyResponse() = default;

QString CZunAbstractFrequencyResponse::GetName() const
{
    return m_name.isEmpty() ? m_defaultName : m_name;
}

void CZunAbstractFrequencyResponse::SetName(const QString& name)
{
    m_name = name;
    emit nameChanged(name);
}

void CZunAbstractFrequencyResponse::recalculate()
{
    emit dataChanged();
}

void CZunAbstractFrequencyResponse::setFlat()
{
    m_magnitude->fill(0.0);
    m_phase->fill(0.0);
}
