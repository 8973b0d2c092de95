#pragma once

#include "CZunHardwareInfo.h"
#include "FilterLimiterEWS.h"
#include "ZunLongOperation.h"
#include "ZunOperation.h"

#include <QMap>

#include <QHostAddress>
#include <QSharedPointer>
#include <QStringList>
#include <QWidget>

class CZun;
class QObject;
class ZunFirSetupActions;
class ZunMaintenanceActions;
class ZunTabJobs;
namespace Ui
{
class ZunAdvancedSettingsWidget;
}

// The "Advanced" tab of one device: the FIR sets of both DSPs (select, link, upload,
// download, remove), the setups (store, upload, download, remove), configuration and
// system buttons, and the log pane into which every action and every report of the
// device model is written. The tab binds its controls to two action objects (FIR sets
// and setups; the processor as a whole) and shows what they and the device report.
// Actions whose end the device model reports later run as long operations: a wait cursor
// and disabled FIR selectors until a completion (success or failure) arrives.
class ZunAdvancedSettingsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ZunAdvancedSettingsWidget(QSharedPointer<CZun> zun, QWidget* parent = nullptr);
    ~ZunAdvancedSettingsWidget() override;

    // The FIR and setup actions and the actions on the processor as a whole (null without
    // a device).
    ZunFirSetupActions* firSetup() const { return m_firSetup; }
    ZunMaintenanceActions* maintenance() const { return m_maintenance; }
    // Whether that job runs on the device (its wait cursor and disabled selectors are shown).
    bool isRunning(ZunLongOperation operation) const;
    // The jobs running now, as the operator is told about them; each writes to the processor.
    QStringList runningOperations() const;

signals:
    void longOperationStarted();
    void longOperationFinished();
    void reconnect();
    void lostZun();
    void ipChanged(QHostAddress address);
    void signal_exception(QString text, QString caption);

public slots:
    void on_BttnRouting();
    void set_FirmwareVersion(quint16 version, quint16 subVersion);
    void set_FirmwareVersion(quint16 version);
    void set_HardwareInfo(CZunHardwareInfo& info);
    void set_FIRFilter1(int index);
    void set_FIRFilter2(int index);
    void eraseFlashMemory();
    void restoreDefaultSettings();
    void UpdateGui();
    void on_newLogEntry();
    void updateFirmware();
    void onCheckSameFIR(bool linked);
    void setCheckSameFIR(bool linked);
    void onSaveConfig();
    void onLoadConfig();
    void addLogEntry(QString text, bool alarm);
    void addLogEntry(QString text);
    void disableControls();
    void enableControls();
    void on_FlashMemErased(bool ok);
    void on_DefaultSettingsRestored(bool ok);
    void on_SetupRemoved(int position);
    void on_DSPInitialized(bool ok, quint16 dsp, quint16 program);
    void on_FIRFilterChanged(int dsp, QShPtrFLE filter, int index);
    void on_FIRFilterRemoved(uint id);
    void on_BlockTransfer(quint16 bytes);
    void on_MemCopy();
    void on_FirmwareCheck(bool ok);
    void finishFwUpdate();
    void on_Connected();
    void on_Disconnected();
    void on_LowFlashMemory();
    void on_CZunException();
    void onChangeSecurityPIN();
    void onSetDeviceName();
    void onSetIP();
    // The end of a setup upload into the flash (the device's parameter image reports it).
    void on_SetupUploaded(bool ok, int position);

private:
    static int bit(ZunLongOperation operation) { return 1 << int(operation); }
    void beginLongOperation(ZunLongOperation operation);
    // Ends that job (when it runs); the tab is given back when no job is left.
    void endLongOperation(ZunLongOperation operation);
    void endLongOperations(int operations);
    // The wait cursor and the selectors follow the device's list of long operations.
    void showBusy();
    void activate(int dsp, int index);
    // The selectors show the sets the DSPs run.
    void showActiveFIRFilters();

    Ui::ZunAdvancedSettingsWidget* ui;
    QSharedPointer<CZun> m_zun;
    QObject* m_alarm = nullptr;
    ZunFirSetupActions* m_firSetup = nullptr;
    ZunMaintenanceActions* m_maintenance = nullptr;
    // The jobs this tab and its actions started, ended on the device's reports.
    QSharedPointer<ZunTabJobs> m_jobs;
    bool m_busy = false; // the device runs a long operation: shown
};
