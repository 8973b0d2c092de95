#include "ZunTimedSteps.h"

#include "FilterLimiterEWS.h"

#include <exception>

ZunTimedSteps::ZunTimedSteps(QObject* parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ZunTimedSteps::on_Next);
}

void ZunTimedSteps::add(int pauseMs, std::function<void()> step) { m_steps.append({qMax(0, pauseMs), std::move(step)}); }

bool ZunTimedSteps::start()
{
    if (m_running)
        return false;
    m_running = true;
    if (m_steps.isEmpty()) {
        m_running = false;
        emit signal_Finished(true, QString());
        return true;
    }
    m_timer.start(m_steps.first().pauseMs);
    return true;
}

void ZunTimedSteps::on_Next()
{
    // Steps without a pause run together: the processor needs the pauses, not the event loop.
    do {
        const Step step = m_steps.takeFirst();
        try {
            step.run();
        } catch (const std::exception& e) {
            const QString text = CBlockFIR::invalid_filter::textOf(e);
            m_steps.clear();
            m_running = false;
            emit signal_Finished(false, text);
            return;
        }
    } while (!m_steps.isEmpty() && m_steps.first().pauseMs == 0);
    if (!m_steps.isEmpty()) {
        m_timer.start(m_steps.first().pauseMs);
        return;
    }
    m_running = false;
    emit signal_Finished(true, QString());
}
