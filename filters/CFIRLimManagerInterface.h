#pragma once

#include <QString>

// What a FIR/limiter set (FilterLimiterEWS) needs from the manager that lists it.
//
// The device's FIR/limiter manager implements this interface. A set keeps a plain,
// non-owning pointer to its manager (set when the set is listed, or passed to the
// set's constructors); the manager must outlive every set that points at it, or clear
// the pointer (FilterLimiterEWS::setManager(nullptr)) before it goes away.
//
// Contract:
// - IsInList(name) answers whether a set of the manager's list has exactly this name
//   (case-sensitive, as GetName() returns it). It is called from the thread that
//   works on the set (the manager's own worker thread) without the list lock, and
//   must not call back into the set.
class CFIRLimManagerInterface
{
public:
    virtual ~CFIRLimManagerInterface() = default;

    virtual bool IsInList(const QString& name) const = 0;
};
