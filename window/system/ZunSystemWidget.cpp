#include "ZunSystemWidget.h"

#include "CCmdMap.h"
#include "CMemoryManager.h"
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "RoutingRenderArea.h"
#include "ZunBaseComm.h"
#include "ZunGarbageCollection.h"
#include "ZunHardwareNeeds.h"
#include "ZunOperations.h"
#include "ZunRecallQuestion.h"
#include "ZunStyle.h"
#include "ZunWheelGuard.h"

#include <QColor>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSettings>
#include <QStandardItemModel>

#include <stdexcept>

namespace
{
const char* const SetupCaption = "Setup selection";
} // namespace

ZunSystemWidget::ZunSystemWidget(QSharedPointer<CZun> zun, QWidget* parent) : QWidget(parent), m_zun(std::move(zun))
{
    setupUi(this);
    connect(comboSetupSelect, qOverload<int>(&QComboBox::activated), this, &ZunSystemWidget::set_Setup);
    ZunStyle::applyTo(comboSetupSelect, QStringLiteral("Plastique"));
    if (m_zun)
        comboSetupSelect->setModel(m_zun->GetSetupManager()->GetModel());

    connect(comboSwitchInput, qOverload<int>(&QComboBox::activated), this, &ZunSystemWidget::set_SignalInput);
    connect(comboAESInput, qOverload<int>(&QComboBox::activated), this, &ZunSystemWidget::set_AESInput);
    connect(comboAESOutput, qOverload<int>(&QComboBox::activated), this, &ZunSystemWidget::set_AESOutput);
    ZunWheelGuard::install({comboSetupSelect, comboSwitchInput, comboAESInput, comboAESOutput});
    connect(bttnConnect, &QPushButton::clicked, this, &ZunSystemWidget::on_connect);
    connect(checkBoxAdvanced, &QCheckBox::toggled, this, &ZunSystemWidget::advancedSettingsChanged);
    connect(this, &ZunSystemWidget::longOperationStarted, this, &ZunSystemWidget::disableControls);
    connect(this, &ZunSystemWidget::longOperationFinished, this, &ZunSystemWidget::enableControls);
    connect(checkBoxLockFrontPanel, &QCheckBox::clicked, this, &ZunSystemWidget::onCheckLockFrontPanel);
    connect(checkBoxStereo, &QCheckBox::clicked, this, &ZunSystemWidget::onCheckStereo);
    if (m_zun) {
        CZun* z = m_zun.data();
        connect(z, &CZun::signal_ZunStatusChanged, this, &ZunSystemWidget::initializeComboBoxSwitchInput,
                Qt::QueuedConnection);
        connect(z->GetStatusBuffer(), &CZunStatusBuffer::signal_LinkChanged, this, &ZunSystemWidget::onCheckStereo,
                Qt::QueuedConnection);
        connect(z->GetStatusBuffer(), &CZunStatusBuffer::signal_SetupSelect, this,
                &ZunSystemWidget::onSetupSelectReply, Qt::QueuedConnection);
        connect(z->GetStatusBuffer(), &CZunStatusBuffer::signal_SetupStored, this,
                &ZunSystemWidget::onSetupStoreReply, Qt::QueuedConnection);
        connect(z->GetLink(), &ZunBaseComm::signal_NetworkError, this, &ZunSystemWidget::onLinkError,
                Qt::QueuedConnection);
        connect(z->GetSetupManager(), &CZunSetupManager::signal_SetupChanged, this, &ZunSystemWidget::on_SetupChanged,
                Qt::QueuedConnection);
        connect(z->GetFIRLimManager(), &CZunFIRLimManager::signal_FIRFilterChanged, this,
                &ZunSystemWidget::on_FIRFilterChanged, Qt::QueuedConnection);
        connect(z, &CZun::signal_Connected, this, &ZunSystemWidget::on_Connected, Qt::QueuedConnection);
        connect(z, &CZun::signal_Disconnected, this, &ZunSystemWidget::on_Disconnected, Qt::QueuedConnection);
        connect(z, &CZun::signal_SetupModified, this, &ZunSystemWidget::on_SetupModified);
        connect(z, &CZun::signal_FrontPanelLocked, this, &ZunSystemWidget::on_FrontPanelLocked, Qt::QueuedConnection);
        connect(z, &CZun::signal_LowFlashMemory, this, &ZunSystemWidget::on_LowFlashMemory, Qt::QueuedConnection);
    }

    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    const QColor active = settings.value(QStringLiteral("ColorButtonActive")).value<QColor>();
    const QColor inactive = settings.value(QStringLiteral("ColorButtonInactive")).value<QColor>();
    bttnConnect->setAutoDefault(false);
    // Without the colours of a start-up the button keeps the style's own (not black).
    if (active.isValid() && inactive.isValid())
        bttnConnect->setStyleSheet(QStringLiteral("QPushButton {background-color: %1;} QPushButton:checked{background-color: "
                                                  "%2;} QPushButton:pressed {background-color: %2;}")
                                       .arg(active.name(), inactive.name()));

    m_routingRenderArea = new RoutingRenderArea();
    // The size the window opens at: the picture's text readable (at 294 x 151 it was about
    // 4 pixels high), the window still within a 1280 pixel screen.
    m_routingRenderArea->setSizeHint(m_routingRenderArea->readableSize());
    // The picture takes the room the tab has (it keeps its proportions when painted), so
    // that its labels stay readable on a large window.
    m_routingRenderArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layoutRouting->addWidget(m_routingRenderArea);

    const QPixmap logo(QStringLiteral(":/resources/logo.png"));
    if (!logo.isNull()) {
        labelLogo->setPixmap(logo);
        const int w = labelLogo->width();
        const QSize size(w, logo.height() * w / logo.width());
        labelLogo->setMinimumSize(size);
        labelLogo->setMaximumSize(size);
    }
    // A window opened for a processor that is connected already shows it so.
    showLinkState();
}

ZunSystemWidget::~ZunSystemWidget()
{
    if (!m_zun)
        return;
    try {
        m_zun->disconnect();
    } catch (const std::exception& e) {
        qWarning().noquote() << "ZunSystemWidget: disconnecting failed:" << e.what();
    }
}

// --- static helpers -------------------------------------------------------------------------

QString ZunSystemWidget::inputKindText(quint32 pattern)
{
    const bool analog = pattern & (1u << 31), drc = pattern & (1u << 30);
    const bool digital = pattern & (1u << 29), src = pattern & (1u << 28);
    if (analog)
        return drc ? tr("Analog (DRC)") : tr("Analog");
    if (digital)
        return src ? tr("Digital (SRC)") : tr("Digital (AES)");
    return QString();
}

QList<int> ZunSystemWidget::offeredAESValues(const QList<int>& values, int deviceNr, bool output)
{
    const int threshold = deviceNr > 680 ? 1 : 2;
    QList<int> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    QList<int> offered;
    for (int v : sorted)
        if (v < threshold || (output && v >= 4))
            offered << v;
    return offered;
}

bool ZunSystemWidget::isStorePosition(quint16 active, int listSize)
{
    return active != 0xCDEF && active != 254 && active != 255 && int(active) < listSize;
}

// --- selectors ------------------------------------------------------------------------------

void ZunSystemWidget::initializeComboBoxSwitchInput()
{
    comboSwitchInput->clear();
    if (!m_zun)
        return;
    const CZunFullRoutingPreset current = m_zun->GetRoutingManager()->GetFullRouting();
    const QList<CZunFullRoutingPreset> candidates = m_zun->GetRoutingLibrary()->FindFullRouting(current);
    const CZunHardwareInfo hardware = m_zun->GetHardwareInfo();
    int selected = -1;
    for (const CZunFullRoutingPreset& c : candidates) {
        const bool running = c.getPattern() == current.getPattern() && c.getName() == current.getName();
        // An input kind that needs a part the processor lacks is not offered; the one it
        // runs stays listed whatever its hardware word says.
        if (!running && !ZunHardwareNeeds::missingForPattern(hardware, c.getPattern()).isEmpty())
            continue;
        comboSwitchInput->addItem(inputKindText(c.getPattern()), QVariant::fromValue(c));
        if (selected < 0 && running)
            selected = comboSwitchInput->count() - 1;
    }
    comboSwitchInput->setCurrentIndex(selected);
}

void ZunSystemWidget::fillAESSelector(QComboBox* box, QLabel* label, const QMap<int, QString>& keys, bool output,
                                      int current)
{
    box->clear();
    for (int v : offeredAESValues(keys.keys(), m_zun->GetNr(), output))
        box->addItem(keys.value(v), v);
    label->setBuddy(box);
    box->setCurrentIndex(box->findData(current));
}

void ZunSystemWidget::initializeComboBoxAESOutput()
{
    if (!m_zun)
        return;
    const CRoutingManager* rm = m_zun->GetRoutingManager();
    fillAESSelector(comboAESOutput, labelAESOutput, rm->GetAESOutputSelectKeys(), true, rm->GetAESOutputSelect());
}

void ZunSystemWidget::initializeComboBoxAESInput()
{
    if (!m_zun)
        return;
    const CRoutingManager* rm = m_zun->GetRoutingManager();
    fillAESSelector(comboAESInput, labelAESInput, rm->GetAESInputSelectKeys(), false, rm->GetAESInputSelect());
}

// The multipath mode of the FIR set active on the DSP (1 or 2), 0 without one.
int ZunSystemWidget::activeMultipath(int dsp) const
{
    return m_zun->GetFIRFilterParam(m_zun->GetActiveFilterIndex(quint16(dsp)));
}

void ZunSystemWidget::initializeRoutingRenderArea()
{
    if (!m_zun)
        return;
    m_routingRenderArea->setDoubleBoard(m_zun->GetHardwareInfo().isDoubleBoard());
    const CRoutingManager* rm = m_zun->GetRoutingManager();
    const CZunFullRoutingPreset full = rm->GetFullRouting();
    const CZunRoutingPreset spi = rm->GetSPIRouting();
    const CZunInputPreset dsp = rm->GetDSPRouting();
    if (full.GetInputPreset().getNumber() == dsp.getNumber() && full.GetRoutingPreset().getNumber() == spi.getNumber()) {
        m_routingRenderArea->setFullRoutingPreset(full);
    } else {
        m_routingRenderArea->setRoutingPreset(spi);
        m_routingRenderArea->setInputPreset(dsp);
    }
    m_routingRenderArea->setMultipath1(QVariant(activeMultipath(1)));
    m_routingRenderArea->setMultipath2(QVariant(activeMultipath(2)));
    m_routingRenderArea->setCopyFIRCoeffs1(QVariant(int(m_zun->CopyFIRCoeffsMode(1))));
    m_routingRenderArea->setCopyFIRCoeffs2(QVariant(int(m_zun->CopyFIRCoeffsMode(2))));
}

void ZunSystemWidget::UpdateGui()
{
    if (!m_zun)
        return;
    initializeComboBoxAESInput();
    initializeComboBoxAESOutput();
    checkBoxLockFrontPanel->setChecked(m_zun->IsKeyLocked());
    checkBoxStereo->setChecked(m_zun->GetStatusBuffer()->isLinked());
    showStereoChoice(m_zun->GetStatusBuffer()->isLinked());
    showHardwareChoices(m_zun->IsConnected());
    initializeRoutingRenderArea();
}

// --- operator choices -----------------------------------------------------------------------

void ZunSystemWidget::set_Setup(int row)
{
    if (!m_zun)
        return;
    if (m_zun->GetMemoryManager()->setupIdAt(row) == 0) {
        emit signal_exception(QStringLiteral("Invalid (empty) setup selected. Try another one, please."),
                              QString::fromLatin1(SetupCaption));
        restoreSetupSelection();
        return;
    }
    // One long operation at a time: refused before the operator is asked anything.
    const QString running = m_zun->GetOperations()->runningTexts().value(0);
    if (!running.isEmpty()) {
        restoreSetupSelection();
        emit signal_exception(tr("Zun nr %1 is running %2: setup %3 was not recalled, and nothing was sent. Try again "
                                 "once that has ended.")
                                  .arg(m_zun->GetNr())
                                  .arg(running)
                                  .arg(row),
                              QString::fromLatin1(SetupCaption));
        return;
    }
    if (m_zun->IsSetupModified()) {
        const quint16 active = m_zun->GetActiveSetup();
        const ZunRecallQuestion::Answer answer =
            ZunRecallQuestion::ask(this, isStorePosition(active, m_zun->GetMemoryManager()->setupListSize()));
        if (answer == ZunRecallQuestion::Store) {
            // The recall would discard the changes: it waits for the processor to have
            // stored them (onSetupStoreReply).
            m_recallPending = true;
            m_recallAfterStore = row;
            emit longOperationStarted();
            setCursor(Qt::WaitCursor);
            try {
                m_zun->SaveSetup(active, m_zun->GetActiveSetupName());
            } catch (const std::exception& e) {
                // The changes are not stored: the recall that would discard them stops here.
                m_recallAfterStore = -1;
                endLongOperation();
                restoreSetupSelection();
                emit signal_exception(QString::fromLocal8Bit(e.what()), QString::fromLatin1(SetupCaption));
            }
            return;
        } else if (answer == ZunRecallQuestion::Cancel) {
            restoreSetupSelection();
            return;
        }
    } else if (QMessageBox::warning(this, tr("ZunControl"),
                                    tr("Are you sure, you want to change the setup? Be aware that combining a "
                                       "loudspeaker/amp setup with the wrong Zun setup can cause damage."),
                                    QMessageBox::Yes | QMessageBox::No)
               != QMessageBox::Yes) {
        restoreSetupSelection();
        return;
    }
    startRecall(row);
}

void ZunSystemWidget::startRecall(int position)
{
    m_recallPending = true;
    emit longOperationStarted();
    setCursor(Qt::WaitCursor);
    try {
        m_zun->SelectSetup(quint16(position));
    } catch (const std::exception& e) {
        // Nothing was sent: no answer will end the operation.
        endLongOperation();
        restoreSetupSelection();
        emit signal_exception(QString::fromLocal8Bit(e.what()), QString::fromLatin1(SetupCaption));
    }
}

void ZunSystemWidget::endLongOperation()
{
    m_recallPending = false;
    unsetCursor();
    emit longOperationFinished();
}

void ZunSystemWidget::restoreSetupSelection()
{
    comboSetupSelect->setCurrentIndex(m_zun->GetActiveSetup());
}

void ZunSystemWidget::onSetupStoreReply(bool ok)
{
    const int row = m_recallAfterStore;
    if (row < 0)
        return;
    m_recallAfterStore = -1;
    if (ok) {
        startRecall(row);
        return;
    }
    endLongOperation();
    restoreSetupSelection();
    emit signal_exception(tr("The Zun did not store the current settings: setup %1 was not recalled, and the changes "
                             "are kept.")
                              .arg(row),
                          QString::fromLatin1(SetupCaption));
}

void ZunSystemWidget::onSetupSelectReply(bool ok, int position)
{
    if (ok || !m_recallPending)
        return;
    endLongOperation();
    restoreSetupSelection();
    emit signal_exception(tr("The Zun did not recall setup %1.").arg(position), QString::fromLatin1(SetupCaption));
}

void ZunSystemWidget::set_SignalInput(int row)
{
    if (!m_zun || row < 0)
        return;
    m_zun->GetRoutingManager()->SetFullRouting(qvariant_cast<CZunFullRoutingPreset>(comboSwitchInput->itemData(row)));
}

void ZunSystemWidget::set_AESInput(int row)
{
    if (!m_zun || row < 0)
        return;
    m_zun->GetRoutingManager()->SetAESInputSelect(comboAESInput->itemData(row).toInt());
}

void ZunSystemWidget::set_AESOutput(int row)
{
    if (!m_zun || row < 0)
        return;
    m_zun->GetRoutingManager()->SetAESOutputSelect(comboAESOutput->itemData(row).toInt());
}

void ZunSystemWidget::onCheckLockFrontPanel(bool checked)
{
    if (m_zun)
        m_zun->SetKeyLock(checked);
}

void ZunSystemWidget::showStereoChoice(bool linked)
{
    // Outputs 5-8 are on the second board: a one-board processor has nothing to link.
    checkBoxStereo->setVisible(linked
                               || (m_zun->GetRoutingManager()->GetSPIRouting().getNumber()
                                       == m_zun->GetCmdMap()->getCmdNr("Inf_RP_21")
                                   && ZunHardwareNeeds::missingForStereoLink(m_zun->GetHardwareInfo()).isEmpty()));
}

void ZunSystemWidget::onCheckStereo(bool on)
{
    if (!m_zun)
        return;
    CZunStatusBuffer* image = m_zun->GetStatusBuffer();
    if (sender() == checkBoxStereo) {
        if (!on) {
            image->SetLinked(false);
            return;
        }
        const int answer = QMessageBox::warning(
            this, tr("ZunControl"),
            tr("This will link channels 1-4 with channels 5-8 to enable a stereo setting.\nParameters will be copied "
               "from channels 1-4 to 5-8.\nChannels 5-8 will be overwritten.\nContinue?"),
            QMessageBox::Yes | QMessageBox::No);
        if (answer == QMessageBox::Yes)
            image->SetLinked(true);
        else
            checkBoxStereo->setChecked(image->isLinked());
        return;
    }
    // The device changed the link; a state the box already shows changes nothing.
    showStereoChoice(on);
    if (checkBoxStereo->isChecked() == on)
        return;
    if (!on)
        QMessageBox::information(this, tr("ZunControl"),
                                 tr("Stereo mode is not supported with front panel operation at the device.\nThe "
                                    "stereo link is lost due to operating at the device. To resync, activate the "
                                    "checkbox in the system menu.\n"),
                                 QMessageBox::Ok);
    checkBoxStereo->setChecked(on);
}

// --- connection -------------------------------------------------------------------------------

void ZunSystemWidget::do_connect() { bttnConnect->click(); }

void ZunSystemWidget::on_connect()
{
    if (!m_zun)
        return;
    try {
        if (m_connectPending && !m_zun->IsConnected()) {
            // The operator gives up an attempt that is not answered.
            m_connectPending = false;
            m_zun->disconnect();
        } else if (!m_zun->IsConnected()) {
            m_connectPending = true;
            showLinkState();
            m_zun->connect(true);
            return;
        } else {
            m_zun->disconnect();
        }
    } catch (const std::logic_error& e) {
        m_connectPending = false;
        showLinkState();
        QMessageBox::information(this, tr("ZunControl"), QCoreApplication::translate("ZunSystemWidget", e.what()),
                                 QMessageBox::Ok);
        return;
    }
    showLinkState();
}

void ZunSystemWidget::showLinkState()
{
    const bool connected = m_zun && m_zun->IsConnected();
    if (connected)
        m_connectPending = false;
    // The button is checked while a connection is made or being made; it stays usable so
    // that an attempt that is never answered can be given up.
    bttnConnect->setChecked(connected || m_connectPending);
    bttnConnect->setEnabled(!m_recallPending);
    if (connected)
        bttnConnect->setText(QStringLiteral("&Disconnect"));
    else if (m_connectPending)
        bttnConnect->setText(tr("&Cancel"));
    else
        bttnConnect->setText(QStringLiteral("&Connect"));
    bttnConnect->setToolTip(m_connectPending && !connected ? tr("Give up the connection attempt")
                                                           : tr("Establish or close a connection"));
    comboSwitchInput->setEnabled(connected);
    showHardwareChoices(connected);
    comboSetupSelect->setEnabled(connected && !m_recallPending);
}

void ZunSystemWidget::showHardwareChoices(bool connected)
{
    const CZunHardwareInfo hardware = m_zun ? m_zun->GetHardwareInfo() : CZunHardwareInfo();
    for (auto [box, missing] : {std::make_pair(comboAESInput, ZunHardwareNeeds::missingForAESInput(hardware)),
                                std::make_pair(comboAESOutput, ZunHardwareNeeds::missingForAESOutput(hardware))}) {
        box->setEnabled(connected && missing.isEmpty());
        // The form gives each selector the same tool and status tip.
        box->setToolTip(missing.isEmpty() ? box->statusTip() : missing);
    }
}

void ZunSystemWidget::onLinkError()
{
    if (!m_connectPending || (m_zun && m_zun->IsConnected()))
        return;
    m_connectPending = false;
    showLinkState();
}

void ZunSystemWidget::on_Connected()
{
    m_connectPending = false;
    emit connected();
    showLinkState();
}

void ZunSystemWidget::on_Disconnected()
{
    // A recall the link took with it gets no answer any more.
    m_recallAfterStore = -1;
    if (m_recallPending)
        endLongOperation();
    m_connectPending = false;
    emit disconnected();
    showLinkState();
}

// --- long operations --------------------------------------------------------------------------

void ZunSystemWidget::disableControls()
{
    bttnConnect->setEnabled(false);
    comboSetupSelect->setEnabled(false);
}

void ZunSystemWidget::enableControls()
{
    bttnConnect->setEnabled(true);
    comboSetupSelect->setEnabled(true);
    showLinkState();
}

void ZunSystemWidget::on_CZunException()
{
    m_recallPending = false;
    m_recallAfterStore = -1;
    emit longOperationFinished();
    unsetCursor();
    showLinkState();
}

void ZunSystemWidget::on_SetupChanged(int nr, QString)
{
    m_recallPending = false;
    unsetCursor();
    emit longOperationFinished();
    comboSetupSelect->setCurrentIndex(nr);
}

void ZunSystemWidget::on_FIRFilterChanged(int dsp, QShPtrFLE filter, int)
{
    if (filter) {
        const int m = filter->multipathMode();
        if (dsp == 1 || dsp == 0)
            m_routingRenderArea->setMultipath1(QVariant(m));
        if (dsp == 2 || dsp == 0)
            m_routingRenderArea->setMultipath2(QVariant(m));
        if (dsp == 1 || dsp == 0)
            m_routingRenderArea->setCopyFIRCoeffs1(QVariant(int(m_zun->CopyFIRCoeffsMode(1))));
        if (dsp == 2 || dsp == 0)
            m_routingRenderArea->setCopyFIRCoeffs2(QVariant(int(m_zun->CopyFIRCoeffsMode(2))));
    }
    m_recallPending = false;
    unsetCursor();
    emit longOperationFinished();
}

// --- device notifications -----------------------------------------------------------------------

void ZunSystemWidget::on_SetupModified()
{
    // Nothing to do here: the setup manager's model, which the selector shows, marks the
    // modified setup itself.
}

void ZunSystemWidget::on_FrontPanelLocked(bool locked)
{
    const QSignalBlocker block(checkBoxLockFrontPanel);
    checkBoxLockFrontPanel->setChecked(locked);
}

void ZunSystemWidget::on_LowFlashMemory()
{
    // One offer at a time: the device offers once each time the flash runs low.
    if (m_lowMemoryAsking)
        return;
    const QScopedValueRollback<bool> asking(m_lowMemoryAsking, true);
    QMessageBox box(QMessageBox::Warning, tr("ZunControl"), ZunGarbageCollection::offerText(), QMessageBox::NoButton,
                    this);
    QPushButton* now = box.addButton(tr("Garbage collection now"), QMessageBox::ActionRole);
    box.addButton(tr("Later"), QMessageBox::ActionRole);
    box.exec();
    if (box.clickedButton() == now && m_zun)
        m_zun->doGarbageCollection();
}
