#pragma once

#include "ZunLongOperation.h"

#include <QList>
#include <QMap>
#include <QSharedPointer>
#include <QString>

class CZun;
class ZunOperation;

// The long operations the advanced tab runs on its processor, each listed on the device
// from its start to the report of its end. One begins only while the processor runs no
// other long operation, whichever window or list started that: the operator is told what
// runs, and nothing is sent. Shared by the tab and its action objects; the GUI thread.
class ZunTabJobs
{
public:
    explicit ZunTabJobs(QSharedPointer<CZun> zun);
    ~ZunTabJobs();

    // The box that refuses what (as the operator calls it) while the processor runs a long
    // operation; empty while it runs none.
    QString refusal(const QString& what) const;
    // The box for what, refused because running (as the operator is told of it) runs.
    QString refusal(const QString& what, const QString& running) const;
    // Begins the job while nothing else runs; false, with the box in *refused, when another
    // one does.
    bool begin(ZunLongOperation kind, const QString& what, QString* refused);
    // Lists a job the device began itself (an erase, a firmware update), once.
    void list(ZunLongOperation kind);
    bool holds(ZunLongOperation kind) const { return m_jobs.contains(kind); }
    QList<ZunLongOperation> held() const { return m_jobs.keys(); }
    // Ends the job, when it is held; false when it is not.
    bool end(ZunLongOperation kind);

private:
    Q_DISABLE_COPY(ZunTabJobs)
    QSharedPointer<CZun> m_zun;
    QMap<ZunLongOperation, QSharedPointer<ZunOperation>> m_jobs;
};
