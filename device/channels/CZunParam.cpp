#include "CZunParam.h"

#include <cmath>
#include <stdexcept>

CZunParam::CZunParam(const Breakpoints& breakpoints) : m_breakpoints(breakpoints)
{
    if (m_breakpoints.size() < 2)
        throw std::logic_error("CZunParam::CZunParam(): a range needs at least two breakpoints.");
    for (size_t i = 0; i + 1 < m_breakpoints.size(); ++i) {
        const double step = m_breakpoints[i].second;
        if (step > 0.0)
            m_positionCount += static_cast<int>((m_breakpoints[i + 1].first - m_breakpoints[i].first) / step);
    }
    m_positionCount += 1;
    m_firstStep = m_breakpoints.front().second;
    m_lastStep = m_breakpoints[m_breakpoints.size() - 2].second;
}

double CZunParam::Bound(const double& value) const
{
    if (std::isnan(value))
        return GetMin();
    const double t = value <= GetMax() ? value : GetMax();
    return t <= GetMin() ? GetMin() : t;
}

double CZunParam::step(const double& value, double signedSteps) const
{
    for (auto it = m_breakpoints.rbegin(); it != m_breakpoints.rend(); ++it)
        if (it->first <= value)
            return Bound(value + signedSteps * it->second);
    return Bound(value);
}

double CZunParam::StepUp(const double& value, const int& steps) const { return step(value, steps); }

double CZunParam::StepDown(const double& value, const int& steps) const { return step(value, -steps); }
