#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>

// Tells a step that failed for want of a link whether the operator has been told already.
// The link's losses are counted as the link reports them (each has its own box). An
// operation notes the count when it starts; while one of its later steps runs, a step that
// finds the link gone after a loss since then was cut by that loss: one failure, the
// loss's box. An operation started without a link finds no loss since: its first such
// step has a box of its own, the rest of that operation only goes to the log.
// Any thread: the link counts in its own thread, the managers ask in theirs while the
// operation's step waits for them.
class ZunLinkLosses
{
public:
    // `losses` gives the link's count of the losses it has reported.
    explicit ZunLinkLosses(std::function<quint64()> losses) : m_losses(std::move(losses)) {}
    // The count an operation starts at.
    quint64 count() const { return m_losses(); }

    // Marks the operation started at count `since` in flight while a step of it runs.
    class InFlight
    {
    public:
        InFlight(ZunLinkLosses& losses, quint64 since);
        ~InFlight();
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;

    private:
        ZunLinkLosses& m_losses;
    };

    // For a step that found no link: true if the operator has been told already (a loss
    // cut the operation in flight, or an earlier step of it had the box), false if this
    // step's failure is the one to show. Outside an operation, always false.
    bool toldAlready();

private:
    static constexpr qint64 None = -1;
    const std::function<quint64()> m_losses;
    std::atomic<qint64> m_inFlightSince{None};
    std::atomic<bool> m_inFlightTold{false};
};
