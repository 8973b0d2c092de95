#pragma once

#include "ZunOperation.h"

#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QTimer>

class CZun;

// A firmware update as one operation, whoever started it (the control window or the
// network list): from the file's checks to the processor's restart. It takes the loss
// report and the keep-alive, and ends once, with one outcome and one text: the processor's
// check refused, a check that got no answer (with the link lost, or with it up), or the
// time the processor needs after a good check, or the processor announcing its new
// firmware first (then the announcement tells it, and the text is empty).
//
// Lives in the GUI thread beside its device object; start() runs in any thread.
class ZunFirmwareUpdate : public QObject
{
    Q_OBJECT
public:
    explicit ZunFirmwareUpdate(CZun* zun);

    // Checks the file and sends it; a refusal before anything is sent ends the update
    // (told) and is thrown as well.
    void start(const QString& file);
    bool isRunning() const;
    // A good check is in, the processor is given its time to restart.
    bool isFinishPending() const { return m_finish.isActive(); }
    // How long the processor needs after a good check before it answers again (45 s for a
    // flash below 2 MiB, else 60 s); tests shorten it.
    void setFinishDelayMs(int ms) { m_delayOverride = ms; }
    // The processor announced a new firmware: a running update is done (true), and the
    // announcement tells it.
    bool endByAnnouncement();
    // The processor's time after a good check is over now: a running update is done (true).
    bool finishNow();

signals:
    // Once per update: how it ended (ZunOperation::Outcome) and what the operator is told.
    void signal_Finished(int outcome, QString text);

private:
    void onCheck(bool ok);
    void onCheckUnanswered();
    void finish(ZunOperation::Outcome outcome, const QString& text);
    static QString doneText();

    CZun* m_zun;
    mutable QMutex m_mutex;
    QSharedPointer<ZunOperation> m_operation;
    QString m_file;
    int m_written = 0; // pieces the processor copied into its flash
    QTimer m_finish;
    int m_delayOverride = -1;
};
