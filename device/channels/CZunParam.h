#pragma once

#include <utility>
#include <vector>

// The range of one adjustable parameter as ascending (value, step) breakpoints. A
// segment runs from one breakpoint to the next and steps by the step of the breakpoint
// it begins at; the last breakpoint is the maximum (its step, 0 in every range here, is
// used when stepping from the maximum).
class CZunParam
{
public:
    using Breakpoints = std::vector<std::pair<double, double>>;

    // At least two breakpoints; copied as given (no sorting, no check).
    explicit CZunParam(const Breakpoints& breakpoints);
    virtual ~CZunParam() = default;

    double GetMin() const { return m_breakpoints.front().first; }
    double GetMax() const { return m_breakpoints.back().first; }
    // Clamped into [GetMin, GetMax]; NaN gives GetMin.
    double Bound(const double& value) const;
    // Moved by whole steps of the value's segment (steps may be negative), then clamped.
    double StepUp(const double& value, const int& steps) const;
    double StepDown(const double& value, const int& steps) const;

    int positionCount() const { return m_positionCount; }
    double firstStep() const { return m_firstStep; }
    double lastStep() const { return m_lastStep; }
    const Breakpoints& breakpoints() const { return m_breakpoints; }

private:
    double step(const double& value, double signedSteps) const;

    int m_positionCount = 0;
    Breakpoints m_breakpoints;
    double m_firstStep = 0.0;
    double m_lastStep = 0.0;
};
