#pragma once

#include "ZunActionPrompts.h"
#include "ZunLongOperation.h"

#include <QHostAddress>
#include <QMessageBox>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>

#include <memory>

class CZun;
class CZunConfigWizard;
class ZunOperation;
class ZunTabJobs;

// The advanced tab's actions on the processor as a whole: erase, default settings,
// configuration folder save and load, firmware update with its timed finish, device name,
// PIN, IP address, the low-memory offer of a garbage collection and the configuration
// wizard. The tab forwards its buttons here and shows what this reports.
class ZunMaintenanceActions : public QObject
{
    Q_OBJECT
public:
    // What the actions ask the operator. The default asks with the program's dialogs;
    // tests answer in its place.
    class Prompts : public ZunActionPrompts
    {
    public:
        using ZunActionPrompts::ZunActionPrompts;
        // A line of text; false when cancelled.
        virtual bool text(const QString& title, const QString& label, const QString& initial, QString* answer);
        // The same with a field that takes at most maxLength characters.
        virtual bool textUpTo(const QString& title, const QString& label, const QString& initial, int maxLength,
                              QString* answer);
        // A firmware file, or "" when cancelled.
        virtual QString firmwareFile(const QString& start);
        // The old and the new PIN words; false when cancelled.
        virtual bool pin(quint16* oldPin, quint16* newPin);
        virtual void message(QMessageBox::Icon icon, const QString& text);
        // True for Yes.
        virtual bool ask(const QString& text);
        // True when the operator wants the garbage collection now.
        virtual bool garbageCollectionNow(const QString& text);
        // True when the wizard was accepted.
        virtual bool runWizard(CZunConfigWizard& wizard);
    };

    // The tab shows the log and the long operations (wait cursor, FIR selectors off);
    // prompts are parented to it. jobs: the tab's (none: the actions' own).
    ZunMaintenanceActions(QSharedPointer<CZun> zun, QWidget* tab, QSharedPointer<ZunTabJobs> jobs = {});
    ~ZunMaintenanceActions() override;

    void setPrompts(std::unique_ptr<Prompts> prompts);
    // How long the processor needs after a good firmware check before it answers again
    // (45 s for a flash below 2 MiB, else 60 s); tests shorten it.
    void setFirmwareFinishDelayMs(int ms);
    bool isFirmwareFinishPending() const;
    // Whether the last firmware update's end has been told to the operator (its finish ran).
    bool hasToldFirmwareUpdate() const { return m_firmwareUpdateTold; }

signals:
    void signal_log(QString text);
    void longOperationStarted(ZunLongOperation operation);
    void longOperationFinished(ZunLongOperation operation);
    void ipChanged(QHostAddress address);

public slots:
    void eraseFlashMemory();
    void restoreDefaultSettings();
    void onSaveConfig();
    void onLoadConfig();
    void updateFirmware();
    void on_BlockTransfer(quint16 bytes);
    void on_MemCopy();
    void on_FirmwareCheck(bool ok);
    void on_FirmwareCheckUnanswered();
    void finishFwUpdate();
    // The device's firmware update ended (ZunOperation::Outcome): one box, said once.
    void on_FirmwareUpdateFinished(int outcome, QString text);
    void onSetDeviceName();
    void onChangeSecurityPIN();
    void onSetIP();
    // The processor's answer to the address change: one box, stored or not.
    void on_IpChangeFinished(int outcome, quint16 cmd, quint16 value);
    void on_LowFlashMemory();
    void on_BttnRouting();

private:
    // Runs a modal choice with the processor's keep-alive off, so that it does not expire
    // while the operator decides.
    template <class F>
    auto withoutKeepAlive(F choice);
    void startLongOperation(ZunLongOperation operation, const QString& logLine);
    // Refuses what (as the operator calls it) with a box while the processor runs a long
    // operation: asked before the operator is.
    bool refusedWhileBusy(const QString& what);
    // Logs and shows the refusal; false when it is empty (nothing refused).
    bool refused(const QString& refusal);
    // A firmware update that did not start or whose check failed: nothing more will come.
    void endFirmwareUpdate();
    void finishFwUpdate(const QString& text);
    void disconnectFirmwareProgress();
    // Until the wizard's activation has ended (answered, refused or sent nothing), a lost
    // link is reported as the loss of the wizard's changes; five minutes at most, and never
    // past the next connect. A sent activation's answer never comes over a lost link: the
    // watch ends with the loss.
    // False when the link is gone already (reported), or while another long operation runs
    // (its text in *running; nothing was sent).
    bool watchWizard(QString* running);
    // The wizard's changes lost with the link: one box, once.
    void wizardLost();
    void endWizardWatch();

    QSharedPointer<CZun> m_zun;
    QSharedPointer<ZunTabJobs> m_jobs;
    std::unique_ptr<Prompts> m_prompts;
    QList<QMetaObject::Connection> m_firmwareProgress;
    QList<QMetaObject::Connection> m_wizardWatch;
    QTimer m_wizardWatchLimit;
    bool m_wizardLossShown = false;
    bool m_wizardActivationSent = false;
    QHostAddress m_askedIp;
    QString m_firmwareFile;
    bool m_firmwareUpdateTold = false;
    bool m_firmwareEnded = false; // the tab was given back for this update
    // From the update's start to its check's answer: the only time a block written to the
    // processor is a piece of this update.
    bool m_firmwarePiecesDue = false;
    QSharedPointer<ZunOperation> m_wizardOperation;
};
