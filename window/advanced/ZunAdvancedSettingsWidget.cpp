#include "ZunAdvancedSettingsWidget.h"

#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "ZunFirSetupActions.h"
#include "ZunGarbageCollection.h"
#include "ZunMaintenanceActions.h"
#include "ZunOperations.h"
#include "ZunOperatorMessage.h"
#include "ZunTabJobs.h"
#include "ZunWheelGuard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSoundEffect>
#include <QSpacerItem>
#include <QStandardItemModel>
#include <QTextEdit>
#include <QUrl>

namespace
{
constexpr int IdRole = Qt::UserRole;
QPushButton* button(QWidget* parent, const char* name, const QString& text, const QString& tip = QString())
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setMinimumSize(120, 24);
    if (!tip.isEmpty())
        b->setToolTip(tip);
    return b;
}
} // namespace

// The tab's form.
namespace Ui
{
class ZunAdvancedSettingsWidget
{
    Q_DECLARE_TR_FUNCTIONS(ZunAdvancedSettingsWidget)
public:
    QGroupBox* groupBoxFIRFilter;
    QLabel* labelSelectFir1;
    QComboBox* comboFIRFilter1;
    QPushButton* bttnUploadFIRFilter;
    QPushButton* bttnDownloadFIRFilter;
    QLabel* labelSelectFir2;
    QComboBox* comboFIRFilter2;
    QCheckBox* checkBoxSameFIRs;
    QPushButton* bttnRemoveFIRFilter;
    QLabel* labelSystemInfo;
    QTextEdit* textEdit;
    QGroupBox* groupBoxSetup;
    QPushButton* bttnRestoreDefaultSettings;
    QPushButton* bttnStoreSetup;
    QPushButton* bttnRouting;
    QPushButton* bttnUploadSetup;
    QPushButton* bttnDownloadSetup;
    QPushButton* bttnRemoveSetup;
    QGroupBox* groupBoxConfiguration;
    QPushButton* bttnSaveConfig;
    QPushButton* bttnUploadConfig;
    QPushButton* bttnEraseFlashMemory;
    QGroupBox* groupBoxSystemSettings;
    QPushButton* bttnUpdateFirmware;
    QPushButton* bttnDeviceName;
    QPushButton* bttnSecurityPIN;
    QPushButton* bttnSetIP;

    void setupUi(QWidget* form)
    {
        form->setWindowTitle(tr("Form"));
        auto* grid = new QGridLayout(form);

        groupBoxFIRFilter = new QGroupBox(tr("FIR Filter"), form);
        groupBoxFIRFilter->setObjectName(QStringLiteral("groupBoxFIRFilter"));
        groupBoxFIRFilter->setMinimumHeight(80); // as wide as its selectors' longest names
        auto* fir = new QGridLayout(groupBoxFIRFilter);
        fir->setSpacing(6);
        fir->setContentsMargins(6, 3, 6, 3);
        labelSelectFir1 = label(groupBoxFIRFilter, "labelSelectFir1", tr("Select FIR for DSP1"));
        comboFIRFilter1 = combo(groupBoxFIRFilter, "comboFIRFilter1");
        bttnUploadFIRFilter = button(groupBoxFIRFilter, "bttnUploadFIRFilter", tr("Upload to Zun"),
                                     tr("Opens dialog to select and upload FIR from hard disk"));
        bttnDownloadFIRFilter = button(groupBoxFIRFilter, "bttnDownloadFIRFilter", tr("Download to PC"),
                                       tr("Opens dialog to select and download filters to hard disk"));
        labelSelectFir2 = label(groupBoxFIRFilter, "labelSelectFir2", tr("Select FIR for DSP2"));
        comboFIRFilter2 = combo(groupBoxFIRFilter, "comboFIRFilter2");
        checkBoxSameFIRs = new QCheckBox(tr("Link DSP2 to DSP1"), groupBoxFIRFilter);
        checkBoxSameFIRs->setObjectName(QStringLiteral("checkBoxSameFIRs"));
        checkBoxSameFIRs->setToolTip(tr("If checked, FIR filters are set equally for both DSPs"));
        bttnRemoveFIRFilter = button(groupBoxFIRFilter, "bttnRemoveFIRFilter", tr("Remove FIR"));
        fir->addWidget(labelSelectFir1, 0, 0);
        fir->addWidget(comboFIRFilter1, 0, 1);
        fir->addWidget(bttnUploadFIRFilter, 0, 2);
        fir->addWidget(bttnDownloadFIRFilter, 0, 3);
        fir->addWidget(labelSelectFir2, 1, 0);
        fir->addWidget(comboFIRFilter2, 1, 1);
        fir->addWidget(checkBoxSameFIRs, 1, 2);
        fir->addWidget(bttnRemoveFIRFilter, 1, 3);

        labelSystemInfo = label(form, "labelSystemInfo", tr("System Information"));
        textEdit = new QTextEdit(form);
        textEdit->setObjectName(QStringLiteral("textEdit"));
        textEdit->setReadOnly(true);

        groupBoxSetup = new QGroupBox(tr("Setup"), form);
        groupBoxSetup->setObjectName(QStringLiteral("groupBoxSetup"));
        groupBoxSetup->setMinimumSize(528, 88);
        auto* setup = new QGridLayout(groupBoxSetup);
        bttnRestoreDefaultSettings = button(groupBoxSetup, "bttnRestoreDefaultSettings", tr("New (empty) Setup"),
                                            tr("Sets the Zun to default settings. Stored setups are not touched."));
        bttnStoreSetup = button(groupBoxSetup, "bttnStoreSetup", tr("Save setup as ..."),
                                tr("Opens a dialog to store the current state of the Zun on the device under an "
                                   "arbitrary name and position."));
        bttnRouting = button(groupBoxSetup, "bttnRouting", tr("Configuration wizard"), tr("Opens a wizard to configure the Zun"));
        bttnUploadSetup = button(groupBoxSetup, "bttnUploadSetup", tr("Upload to Zun"),
                                 tr("Opens dialog to upload setup from hard disk to the Zun."));
        bttnDownloadSetup = button(groupBoxSetup, "bttnDownloadSetup", tr("Download to PC"),
                                   tr("Opens dialog to select and download setup to hard disk"));
        bttnRemoveSetup = button(groupBoxSetup, "bttnRemoveSetup", tr("Remove Setup ..."),
                                 tr("Opens a dialog to remove a setup from the Zun."));
        setup->addWidget(bttnRestoreDefaultSettings, 0, 0);
        setup->addWidget(bttnStoreSetup, 0, 1);
        setup->addWidget(bttnRouting, 0, 2);
        setup->addWidget(bttnUploadSetup, 1, 0);
        setup->addWidget(bttnDownloadSetup, 1, 1);
        setup->addWidget(bttnRemoveSetup, 1, 2);
        setup->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum), 0, 3, 2, 1);

        groupBoxConfiguration = new QGroupBox(tr("Configuration"), form);
        groupBoxConfiguration->setObjectName(QStringLiteral("groupBoxConfiguration"));
        groupBoxConfiguration->setMinimumHeight(60);
        auto* config = new QHBoxLayout(groupBoxConfiguration);
        config->setSpacing(6);
        config->setContentsMargins(6, 3, 6, 3);
        bttnSaveConfig = button(groupBoxConfiguration, "bttnSaveConfig", tr("Save config to PC"),
                                tr("Saves complete configuration (setups, filters) to hard disk"));
        bttnUploadConfig = button(groupBoxConfiguration, "bttnUploadConfig", tr("Upload Config to Zun"),
                                  tr("Uploads complete configuration from desired directory to Zun"));
        bttnEraseFlashMemory = button(groupBoxConfiguration, "bttnEraseFlashMemory", tr("Erase All"),
                                      tr("Resets the Zun to the factory defaults. Erases flash memory. All settings, "
                                         "setups, etc. will be lost."));
        config->addWidget(bttnSaveConfig);
        config->addWidget(bttnUploadConfig);
        config->addWidget(bttnEraseFlashMemory);
        config->addStretch();

        groupBoxSystemSettings = new QGroupBox(tr("System Settings"), form);
        groupBoxSystemSettings->setObjectName(QStringLiteral("groupBoxSystemSettings"));
        groupBoxSystemSettings->setMinimumHeight(60);
        auto* system = new QHBoxLayout(groupBoxSystemSettings);
        system->setContentsMargins(6, 3, 6, 3);
        bttnUpdateFirmware = button(groupBoxSystemSettings, "bttnUpdateFirmware", tr("Update Firmware"),
                                    tr("Opens dialog to select fwu file and update firmware"));
        bttnDeviceName = button(groupBoxSystemSettings, "bttnDeviceName", tr("Set Device Name"), tr("Set the name of the device"));
        bttnDeviceName->setWhatsThis(tr("The device name appears in the network monitor."));
        bttnSecurityPIN = button(groupBoxSystemSettings, "bttnSecurityPIN", tr("Change Security PIN"),
                                 tr("Changes the security PIN necessary to unlock the Zun at the front panel"));
        bttnSetIP = button(groupBoxSystemSettings, "bttnSetIP", tr("Change IP address"),
                           tr("Sets new IP to Zun. Use only, if no DHCP router is present. Restart Zun afterwards."));
        system->addWidget(bttnUpdateFirmware);
        system->addWidget(bttnDeviceName);
        system->addWidget(bttnSecurityPIN);
        system->addWidget(bttnSetIP);
        system->addStretch();

        grid->addWidget(groupBoxFIRFilter, 0, 0, 2, 1);
        grid->addWidget(groupBoxSetup, 2, 0);
        grid->addWidget(groupBoxConfiguration, 3, 0);
        grid->addWidget(groupBoxSystemSettings, 4, 0);
        grid->addWidget(labelSystemInfo, 0, 1);
        grid->addWidget(textEdit, 1, 1, 4, 1);
        grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 5, 0, 1, 2);
    }

private:
    static QLabel* label(QWidget* parent, const char* name, const QString& text)
    {
        auto* l = new QLabel(text, parent);
        l->setObjectName(QString::fromLatin1(name));
        l->setMinimumWidth(qMax(120, l->sizeHint().width())); // never cut when a long set name takes the room
        return l;
    }
    static QComboBox* combo(QWidget* parent, const char* name)
    {
        auto* c = new QComboBox(parent);
        c->setObjectName(QString::fromLatin1(name));
        // Closed, a selector shows its whole set name, ids of same-named sets included, also
        // for sets listed after the tab was shown: its width follows its longest name and it
        // never shrinks below it (a fixed minimum width would let the layout cut it).
        c->setMinimumHeight(24);
        c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        c->setSizePolicy(QSizePolicy::Minimum, c->sizePolicy().verticalPolicy());
        return c;
    }
};
} // namespace Ui

ZunAdvancedSettingsWidget::ZunAdvancedSettingsWidget(QSharedPointer<CZun> zun, QWidget* parent)
    : QWidget(parent), ui(new Ui::ZunAdvancedSettingsWidget), m_zun(std::move(zun)),
      m_jobs(QSharedPointer<ZunTabJobs>::create(m_zun))
{
    ui->setupUi(this);

    connect(ui->bttnRouting, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::on_BttnRouting);
    connect(ui->bttnEraseFlashMemory, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::eraseFlashMemory);
    connect(ui->bttnRestoreDefaultSettings, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::restoreDefaultSettings);
    connect(ui->comboFIRFilter1, QOverload<int>::of(&QComboBox::activated), this, &ZunAdvancedSettingsWidget::set_FIRFilter1);
    connect(ui->comboFIRFilter2, QOverload<int>::of(&QComboBox::activated), this, &ZunAdvancedSettingsWidget::set_FIRFilter2);
    ZunWheelGuard::install({ui->comboFIRFilter1, ui->comboFIRFilter2});
    connect(ui->bttnUpdateFirmware, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::updateFirmware);
    connect(ui->textEdit, &QTextEdit::textChanged, this, &ZunAdvancedSettingsWidget::on_newLogEntry);
    connect(ui->checkBoxSameFIRs, &QCheckBox::clicked, this, &ZunAdvancedSettingsWidget::onCheckSameFIR);
    connect(ui->bttnSaveConfig, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::onSaveConfig);
    connect(ui->bttnUploadConfig, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::onLoadConfig);
    connect(this, &ZunAdvancedSettingsWidget::longOperationStarted, this, &ZunAdvancedSettingsWidget::disableControls);
    connect(this, &ZunAdvancedSettingsWidget::longOperationFinished, this, &ZunAdvancedSettingsWidget::enableControls);
    connect(ui->bttnSecurityPIN, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::onChangeSecurityPIN);
    connect(ui->bttnDeviceName, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::onSetDeviceName);
    connect(ui->bttnSetIP, &QPushButton::clicked, this, &ZunAdvancedSettingsWidget::onSetIP);

    for (QPushButton* b : {ui->bttnRouting, ui->bttnEraseFlashMemory, ui->bttnUploadConfig, ui->bttnSaveConfig,
                           ui->bttnDownloadFIRFilter, ui->bttnUploadFIRFilter, ui->bttnUpdateFirmware})
        b->setAutoDefault(false);

    if (!m_zun)
        return;
    connect(m_zun->GetOperations(), &ZunOperations::signal_Changed, this, &ZunAdvancedSettingsWidget::showBusy,
            Qt::QueuedConnection);
    m_maintenance = new ZunMaintenanceActions(m_zun, this, m_jobs);
    connect(m_maintenance, &ZunMaintenanceActions::signal_log, this, QOverload<QString>::of(&ZunAdvancedSettingsWidget::addLogEntry));
    connect(m_maintenance, &ZunMaintenanceActions::longOperationStarted, this,
            &ZunAdvancedSettingsWidget::beginLongOperation);
    connect(m_maintenance, &ZunMaintenanceActions::longOperationFinished, this,
            &ZunAdvancedSettingsWidget::endLongOperation);
    connect(m_maintenance, &ZunMaintenanceActions::ipChanged, this, &ZunAdvancedSettingsWidget::ipChanged);

    m_firSetup = new ZunFirSetupActions(m_zun, this, m_jobs);
    connect(m_firSetup, &ZunFirSetupActions::signal_log, this, QOverload<QString>::of(&ZunAdvancedSettingsWidget::addLogEntry));
    connect(m_firSetup, &ZunFirSetupActions::signal_exception, this, &ZunAdvancedSettingsWidget::signal_exception);
    connect(m_firSetup, &ZunFirSetupActions::longOperationStarted, this, &ZunAdvancedSettingsWidget::beginLongOperation);
    connect(m_firSetup, &ZunFirSetupActions::longOperationFinished, this, &ZunAdvancedSettingsWidget::endLongOperation);
    connect(m_firSetup, &ZunFirSetupActions::firChoiceRefused, this, &ZunAdvancedSettingsWidget::showActiveFIRFilters);
    connect(ui->bttnUploadFIRFilter, &QPushButton::clicked, m_firSetup, &ZunFirSetupActions::uploadFIRFilter);
    connect(ui->bttnDownloadFIRFilter, &QPushButton::clicked, m_firSetup, &ZunFirSetupActions::downloadFIRFilter);
    connect(ui->bttnRemoveFIRFilter, &QPushButton::clicked, m_firSetup, &ZunFirSetupActions::removeFIRFilter);
    connect(ui->bttnUploadSetup, &QPushButton::clicked, m_firSetup, &ZunFirSetupActions::uploadSetup);
    connect(ui->bttnDownloadSetup, &QPushButton::clicked, m_firSetup, &ZunFirSetupActions::downloadSetup);
    connect(ui->bttnRemoveSetup, &QPushButton::clicked, m_firSetup, &ZunFirSetupActions::removeSetup);
    connect(ui->bttnStoreSetup, &QPushButton::clicked, m_firSetup, &ZunFirSetupActions::storeSetup);

    CZunFIRLimManager* fir = m_zun->GetFIRLimManager();
    ui->comboFIRFilter1->setModel(fir->GetFirModel());
    ui->comboFIRFilter2->setModel(fir->GetFirModel());
    // A set listed or taken off the list (a restore, an erase) moves no selector off what
    // the DSPs run.
    QStandardItemModel* firModel = fir->GetFirModel();
    for (auto changed : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(firModel, changed, this, &ZunAdvancedSettingsWidget::showActiveFIRFilters);
    connect(firModel, &QAbstractItemModel::modelReset, this, &ZunAdvancedSettingsWidget::showActiveFIRFilters);

    const auto queued = Qt::QueuedConnection;
    CZun* zunObject = m_zun.data();
    connect(zunObject, &CZun::signal_FlashMemErased, this, &ZunAdvancedSettingsWidget::on_FlashMemErased, queued);
    connect(zunObject, &CZun::signal_DefaultSettingsRestored, this, &ZunAdvancedSettingsWidget::on_DefaultSettingsRestored, queued);
    connect(zunObject, &CZun::signal_DSPProgramSelect, this, &ZunAdvancedSettingsWidget::on_DSPInitialized, queued);
    connect(fir, &CZunFIRLimManager::signal_FIRFilterChanged, this, &ZunAdvancedSettingsWidget::on_FIRFilterChanged, queued);
    connect(zunObject, &CZun::signal_Connected, this, &ZunAdvancedSettingsWidget::on_Connected, queued);
    connect(zunObject, &CZun::signal_Disconnected, this, &ZunAdvancedSettingsWidget::on_Disconnected, queued);
    connect(fir, &CZunFIRLimManager::signal_FIRFilterRemoved, this, &ZunAdvancedSettingsWidget::on_FIRFilterRemoved, queued);
    connect(fir, &CZunFIRLimManager::signal_FirFiltersLinked, this, &ZunAdvancedSettingsWidget::setCheckSameFIR, queued);
    connect(m_zun->GetSetupManager(), &CZunSetupManager::signal_SetupRemoved, this,
            &ZunAdvancedSettingsWidget::on_SetupRemoved, queued);
    connect(zunObject, &CZun::signal_LogMessage, this,
            QOverload<QString, bool>::of(&ZunAdvancedSettingsWidget::addLogEntry), queued);
    // The failures of the FIR and setup transfers come as the device's exception reports:
    // they end those jobs (and only those).
    connect(zunObject, &CZun::signal_exception, this, &ZunAdvancedSettingsWidget::on_CZunException, queued);
    connect(m_zun->GetStatusBuffer(), &CZunStatusBuffer::signal_SetupUploaded, this,
            &ZunAdvancedSettingsWidget::on_SetupUploaded, queued);
}

ZunAdvancedSettingsWidget::~ZunAdvancedSettingsWidget()
{
    if (m_zun) {
        disconnect(m_zun.data(), &CZun::signal_FlashMemErased, this, nullptr);
        disconnect(m_zun->GetFIRLimManager(), &CZunFIRLimManager::signal_FIRFilterChanged, this, nullptr);
        disconnect(m_zun.data(), &CZun::signal_Connected, this, nullptr);
        disconnect(m_zun.data(), &CZun::signal_Disconnected, this, nullptr);
    }
    m_zun.reset();
    delete ui;
}

// --- long operations ---------------------------------------------------------------------

void ZunAdvancedSettingsWidget::beginLongOperation(ZunLongOperation operation)
{
    // The device lists its collection (or the restore a connection started) itself; the
    // actions begin their jobs alone before they send anything.
    if (operation != ZunLongOperation::GarbageCollection)
        m_jobs->list(operation);
    showBusy();
}

bool ZunAdvancedSettingsWidget::isRunning(ZunLongOperation operation) const
{
    return m_zun && m_zun->GetOperations()->isRunning(operation);
}

QStringList ZunAdvancedSettingsWidget::runningOperations() const
{
    return m_zun ? m_zun->GetOperations()->runningTexts() : QStringList();
}

void ZunAdvancedSettingsWidget::endLongOperation(ZunLongOperation operation) { endLongOperations(bit(operation)); }

void ZunAdvancedSettingsWidget::endLongOperations(int operations)
{
    // A report of a job that is not running (an image reload, another job's report)
    // leaves the running ones as they are.
    for (const ZunLongOperation operation : m_jobs->held()) {
        if (!(operations & bit(operation)))
            continue;
        // An upload's end is logged as its start is.
        if (operation == ZunLongOperation::FirUpload && m_firSetup) {
            bool failed = false;
            const QString ended = m_firSetup->firUploadEnded(&failed);
            if (!ended.isEmpty())
                addLogEntry(ended, failed);
        }
        m_jobs->end(operation);
    }
    showBusy();
}

void ZunAdvancedSettingsWidget::showBusy()
{
    // Busy while the device runs any long operation, whoever started it.
    const bool busy = m_zun && !m_zun->GetOperations()->running().isEmpty();
    if (busy == m_busy)
        return;
    m_busy = busy;
    setCursor(busy ? Qt::WaitCursor : Qt::ArrowCursor);
    if (busy)
        emit longOperationStarted();
    else
        emit longOperationFinished();
}

void ZunAdvancedSettingsWidget::disableControls()
{
    ui->comboFIRFilter1->setEnabled(false);
    ui->comboFIRFilter2->setEnabled(false);
}

void ZunAdvancedSettingsWidget::enableControls()
{
    ui->comboFIRFilter1->setEnabled(true);
    ui->comboFIRFilter2->setEnabled(!(m_zun && m_zun->GetFIRLimManager()->FirFiltersLinked()));
}

void ZunAdvancedSettingsWidget::on_CZunException()
{
    endLongOperations(bit(ZunLongOperation::FirChoice) | bit(ZunLongOperation::FirUpload)
                      | bit(ZunLongOperation::SetupUpload));
}

// --- display -----------------------------------------------------------------------------

void ZunAdvancedSettingsWidget::set_FirmwareVersion(quint16 version, quint16 subVersion)
{
    addLogEntry(tr("Zun firmware version %1.%2\n").arg(version).arg(subVersion));
}

void ZunAdvancedSettingsWidget::set_FirmwareVersion(quint16 version) { set_FirmwareVersion(version, 0); }

void ZunAdvancedSettingsWidget::set_HardwareInfo(CZunHardwareInfo& info) { addLogEntry(info.toHtml()); }

void ZunAdvancedSettingsWidget::UpdateGui()
{
    if (!m_zun)
        return;
    set_FirmwareVersion(m_zun->GetFirmwareVersion(), m_zun->GetFirmwareSubVersion());
    CZunHardwareInfo hw = m_zun->GetHardwareInfo();
    set_HardwareInfo(hw);
    const bool second = hw.isDoubleBoard();
    ui->labelSelectFir2->setVisible(second);
    ui->comboFIRFilter2->setVisible(second);
    ui->checkBoxSameFIRs->setVisible(second);
}

void ZunAdvancedSettingsWidget::on_Connected()
{
    if (m_zun)
        ui->bttnSecurityPIN->setVisible(m_zun->GetFirmwareVersion() >= 1073);
}

void ZunAdvancedSettingsWidget::on_Disconnected()
{
    // No report of a transfer or an erase comes over a link that is gone. A firmware
    // update loses the link on purpose and ends with its timed finish; a folder load ends
    // with its own report once the transfers were given up.
    endLongOperations(bit(ZunLongOperation::FirChoice) | bit(ZunLongOperation::FirUpload)
                      | bit(ZunLongOperation::SetupUpload) | bit(ZunLongOperation::Erase)
                      | bit(ZunLongOperation::Restore));
}

void ZunAdvancedSettingsWidget::on_FlashMemErased(bool ok)
{
    // Only the operator's erase restores the factory settings; the garbage collection's
    // leaves the DSPs running what they ran and puts its backup back.
    if (!ok)
        addLogEntry(tr("An error occured while erasing the internal memory.\n"));
    else if (isRunning(ZunLongOperation::Erase))
        addLogEntry(tr("Memory erased, factory settings restored.\n"));
    else if (isRunning(ZunLongOperation::GarbageCollection) || (m_zun && m_zun->GetGarbageCollection()->isRunning()))
        addLogEntry(tr("Flash memory erased by the garbage collection; it puts its backup back now. The DSPs go on "
                       "running what they ran.\n"));
    else
        addLogEntry(tr("The processor reports its flash memory erased.\n"));
    endLongOperation(ZunLongOperation::Erase);
}

void ZunAdvancedSettingsWidget::on_DefaultSettingsRestored(bool ok)
{
    addLogEntry(ok ? tr("Default settings restored.\n") : tr("An error occured while restoring the default settings.\n"));
    endLongOperation(ZunLongOperation::Restore);
}

void ZunAdvancedSettingsWidget::on_DSPInitialized(bool ok, quint16 dsp, quint16 program)
{
    Q_UNUSED(program);
    if (ok)
        addLogEntry(tr("DSP %1 initialized with program '%2'.\n").arg(dsp).arg(m_zun ? m_zun->GetActiveDSPProgramString(dsp) : QString()));
    else
        addLogEntry(tr("An error occurred while initializing DSP %1.\n, reverted to last program.").arg(dsp));
    // A good boot is a step of a FIR choice, whose end is the set's report; a failed one
    // ends it.
    if (!ok)
        endLongOperation(ZunLongOperation::FirChoice);
}

void ZunAdvancedSettingsWidget::on_FIRFilterChanged(int dsp, QShPtrFLE filter, int index)
{
    Q_UNUSED(dsp);
    Q_UNUSED(filter);
    Q_UNUSED(index);
    showActiveFIRFilters();
    // An upload ends with the processor's answer to its store, after which the sets are
    // reported again; a report before it (an image read meanwhile) leaves it running.
    const bool uploading = m_zun && m_zun->GetFIRLimManager()->pendingUploads() > 0;
    endLongOperations(bit(ZunLongOperation::FirChoice) | (uploading ? 0 : bit(ZunLongOperation::FirUpload)));
}

void ZunAdvancedSettingsWidget::on_FIRFilterRemoved(uint id)
{
    Q_UNUSED(id);
    addLogEntry(tr("FIR filter successfully removed"));
}

void ZunAdvancedSettingsWidget::on_SetupRemoved(int position)
{
    addLogEntry(tr("Setup nr %1 successfully removed").arg(position));
}

void ZunAdvancedSettingsWidget::on_SetupUploaded(bool ok, int position)
{
    if (ok)
        addLogEntry(tr("Setup uploaded to position %1.").arg(position));
    else
        addLogEntry(tr("The setup could not be stored at position %1.").arg(position), true);
    endLongOperation(ZunLongOperation::SetupUpload);
}

void ZunAdvancedSettingsWidget::setCheckSameFIR(bool linked)
{
    ui->checkBoxSameFIRs->setChecked(linked);
    ui->comboFIRFilter2->setDisabled(linked);
}

void ZunAdvancedSettingsWidget::addLogEntry(QString text, bool alarm)
{
    // A failure in the device model's words says first what failed; its text follows.
    const QString shown = alarm ? ZunOperatorMessage::text(text, m_zun ? m_zun->GetCmdMap().data() : nullptr) : text;
    ui->textEdit->append(shown == text ? text : QStringLiteral("%1 (%2)").arg(shown, text.trimmed()));
    if (!alarm)
        return;
    // The program ships no sound: without the file there is nothing to play.
    const QString file = QDir::currentPath() + QStringLiteral("/alarm.wav");
    if (!QFileInfo(file).isFile())
        return;
    auto* sound = qobject_cast<QSoundEffect*>(m_alarm);
    if (!sound) {
        sound = new QSoundEffect(this);
        sound->setObjectName(QStringLiteral("alarmSound"));
        m_alarm = sound;
    }
    sound->setSource(QUrl::fromLocalFile(file));
    sound->play();
}

void ZunAdvancedSettingsWidget::addLogEntry(QString text) { addLogEntry(text, false); }

void ZunAdvancedSettingsWidget::on_newLogEntry()
{
    QScrollBar* bar = ui->textEdit->verticalScrollBar();
    bar->setValue(bar->maximum());
}

// --- maintenance: the actions object does the work, the tab shows it ----------------------

void ZunAdvancedSettingsWidget::on_BlockTransfer(quint16 bytes) { if (m_maintenance) m_maintenance->on_BlockTransfer(bytes); }
void ZunAdvancedSettingsWidget::on_MemCopy() { if (m_maintenance) m_maintenance->on_MemCopy(); }
void ZunAdvancedSettingsWidget::on_FirmwareCheck(bool ok) { if (m_maintenance) m_maintenance->on_FirmwareCheck(ok); }
void ZunAdvancedSettingsWidget::finishFwUpdate() { if (m_maintenance) m_maintenance->finishFwUpdate(); }
void ZunAdvancedSettingsWidget::on_BttnRouting() { if (m_maintenance) m_maintenance->on_BttnRouting(); }
void ZunAdvancedSettingsWidget::eraseFlashMemory() { if (m_maintenance) m_maintenance->eraseFlashMemory(); }
void ZunAdvancedSettingsWidget::restoreDefaultSettings() { if (m_maintenance) m_maintenance->restoreDefaultSettings(); }
void ZunAdvancedSettingsWidget::updateFirmware() { if (m_maintenance) m_maintenance->updateFirmware(); }
void ZunAdvancedSettingsWidget::onSaveConfig() { if (m_maintenance) m_maintenance->onSaveConfig(); }
void ZunAdvancedSettingsWidget::onLoadConfig() { if (m_maintenance) m_maintenance->onLoadConfig(); }
void ZunAdvancedSettingsWidget::on_LowFlashMemory() { if (m_maintenance) m_maintenance->on_LowFlashMemory(); }
void ZunAdvancedSettingsWidget::onChangeSecurityPIN() { if (m_maintenance) m_maintenance->onChangeSecurityPIN(); }
void ZunAdvancedSettingsWidget::onSetDeviceName() { if (m_maintenance) m_maintenance->onSetDeviceName(); }
void ZunAdvancedSettingsWidget::onSetIP() { if (m_maintenance) m_maintenance->onSetIP(); }

// --- FIR filters ---------------------------------------------------------------------------

void ZunAdvancedSettingsWidget::set_FIRFilter1(int index) { activate(1, index); }

void ZunAdvancedSettingsWidget::set_FIRFilter2(int index) { activate(2, index); }

void ZunAdvancedSettingsWidget::activate(int dsp, int index)
{
    if (!m_firSetup)
        return;
    QComboBox* combo = dsp == 1 ? ui->comboFIRFilter1 : ui->comboFIRFilter2;
    m_firSetup->chooseFIRFilter(dsp, combo->itemData(index, IdRole).toUInt(), ui->checkBoxSameFIRs->isChecked());
}

void ZunAdvancedSettingsWidget::showActiveFIRFilters()
{
    if (!m_zun)
        return;
    // The set each DSP runs, by its id: one the flash lacks (erased, on its way back) is
    // named as not stored, never shown as the first set listed.
    for (const quint16 dsp : {quint16(1), quint16(2)}) {
        QComboBox* combo = dsp == 1 ? ui->comboFIRFilter1 : ui->comboFIRFilter2;
        const quint32 id = m_zun->GetActiveFilterIndex(dsp);
        const int row = id == 0 ? -1 : combo->findData(id, IdRole);
        combo->setPlaceholderText(row < 0 && id != 0 ? tr("%1 (not stored)").arg(id, 8, 16, QLatin1Char('0'))
                                                     : QString());
        combo->setCurrentIndex(row);
    }
}

void ZunAdvancedSettingsWidget::onCheckSameFIR(bool linked)
{
    if (m_zun)
        m_zun->GetFIRLimManager()->SetFirFiltersLinked(linked);
}
