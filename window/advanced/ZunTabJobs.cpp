#include "ZunTabJobs.h"

#include "CZun.h"
#include "ZunOperations.h"

#include <QCoreApplication>

ZunTabJobs::ZunTabJobs(QSharedPointer<CZun> zun) : m_zun(std::move(zun)) {}

ZunTabJobs::~ZunTabJobs() = default;

QString ZunTabJobs::refusal(const QString& what) const
{
    const QString running = m_zun ? m_zun->GetOperations()->runningTexts().value(0) : QString();
    return running.isEmpty() ? QString() : refusal(what, running);
}

QString ZunTabJobs::refusal(const QString& what, const QString& running) const
{
    return QCoreApplication::translate("ZunTabJobs", "Zun nr %1 is running %2: %3 was not started, and nothing was "
                                                     "sent. Try again once that has ended.")
        .arg(m_zun->GetNr())
        .arg(running, what);
}

bool ZunTabJobs::begin(ZunLongOperation kind, const QString& what, QString* refused)
{
    QString running;
    const QSharedPointer<ZunOperation> job = m_zun->GetOperations()->beginAlone(kind, 0, &running);
    if (!job) {
        *refused = refusal(what, running);
        return false;
    }
    m_jobs.insert(kind, job);
    return true;
}

void ZunTabJobs::list(ZunLongOperation kind)
{
    if (m_zun && !m_jobs.contains(kind))
        m_jobs.insert(kind, m_zun->GetOperations()->begin(kind, 0));
}

bool ZunTabJobs::end(ZunLongOperation kind)
{
    const QSharedPointer<ZunOperation> job = m_jobs.take(kind);
    if (!job)
        return false;
    job->finish(ZunOperation::Outcome::Done);
    return true;
}
