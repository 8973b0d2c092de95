#include "ZunMaintenanceActions.h"

#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunConfigWizard.h"
#include "CZunFIRLimManager.h"
#include "CZunStatusBuffer.h"
#include "ZunFirmwareUpdate.h"
#include "ZunGarbageCollection.h"
#include "ZunKeepAliveRest.h"
#include "ZunOperations.h"
#include "ZunSettingsWriter.h"
#include "ZunTabJobs.h"
#include "ZunTimedSteps.h"
#include "ZunOperatorMessage.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QStorageInfo>
#include <QFutureWatcher>
#include <QtConcurrent>

#include <utility>

namespace
{
// How long a configuration load may wait for the processor to store what it was sent.
constexpr int ConfigLoadLimitMs = 10 * 60 * 1000;
// The flash directory read that shows what a load stored.
constexpr int ConfigConfirmLimitMs = 20 * 1000;

QSettings settings() { return QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")); }

void disconnectAll(QList<QMetaObject::Connection>& connections)
{
    for (const QMetaObject::Connection& c : qAsConst(connections))
        QObject::disconnect(c);
    connections.clear();
}

// A dotted IPv4 unicast address; anything else (IPv6, 0.0.0.0, loopback, multicast, the
// broadcast and the reserved range) is no address a processor can take.
bool isUnicastIPv4(const QString& text, quint32* address)
{
    const QStringList octets = text.trimmed().split(QLatin1Char('.'));
    if (octets.size() != 4)
        return false;
    quint32 value = 0;
    for (const QString& o : octets) {
        bool ok = false;
        const uint n = o.toUInt(&ok, 10);
        if (!ok || o.isEmpty() || o.size() > 3 || n > 255)
            return false;
        value = value << 8 | n;
    }
    const quint32 first = value >> 24;
    if (first == 0 || first == 127 || first >= 224)
        return false;
    *address = value;
    return true;
}
} // namespace

ZunMaintenanceActions::ZunMaintenanceActions(QSharedPointer<CZun> zun, QWidget* tab, QSharedPointer<ZunTabJobs> jobs)
    : QObject(tab), m_zun(std::move(zun)), m_jobs(jobs ? std::move(jobs) : QSharedPointer<ZunTabJobs>::create(m_zun)),
      m_prompts(new Prompts(tab))
{
    // A wizard whose last answer never comes must not keep later, unrelated link losses
    // from their own box: the watch ends well after the slowest Finish.
    m_wizardWatchLimit.setSingleShot(true);
    m_wizardWatchLimit.setInterval(5 * 60 * 1000);
    connect(&m_wizardWatchLimit, &QTimer::timeout, this, &ZunMaintenanceActions::endWizardWatch);
    if (m_zun)
        connect(m_zun->GetStatusBuffer(), &CZunStatusBuffer::signal_IpChangeFinished, this,
                &ZunMaintenanceActions::on_IpChangeFinished, Qt::QueuedConnection);
    // A collection runs for minutes on a slow processor, also when started from another
    // tab or again at a connection: it shows that it runs, how far it is, and its end
    // (a failure is the device's own box).
    if (!m_zun)
        return;
    const ZunGarbageCollection* collection = m_zun->GetGarbageCollection();
    connect(collection, &ZunGarbageCollection::signal_Started, this, [this]() {
        startLongOperation(ZunLongOperation::GarbageCollection, tr("Garbage collection running. Please wait ..."));
    });
    connect(collection, &ZunGarbageCollection::signal_Progress, this, [this](int done, int total) {
        emit signal_log(tr("Garbage collection: %1 of %2 FIR/limiter sets and setups back.").arg(done).arg(total));
    });
    connect(collection, &ZunGarbageCollection::signal_Finished, this, [this](bool ok, QString text) {
        emit longOperationFinished(ZunLongOperation::GarbageCollection);
        if (ok)
            m_prompts->message(QMessageBox::Information, text);
    });
}

// The timer is a member: it never fires into a destroyed tab.
ZunMaintenanceActions::~ZunMaintenanceActions()
{
    disconnectFirmwareProgress();
    endWizardWatch();
}

void ZunMaintenanceActions::setPrompts(std::unique_ptr<Prompts> prompts) { m_prompts = std::move(prompts); }

template <class F>
auto ZunMaintenanceActions::withoutKeepAlive(F choice)
{
    const ZunKeepAliveRest rest(m_zun.data());
    return choice();
}

void ZunMaintenanceActions::startLongOperation(ZunLongOperation operation, const QString& logLine)
{
    emit signal_log(logLine);
    emit longOperationStarted(operation);
}

bool ZunMaintenanceActions::refused(const QString& refusal)
{
    if (refusal.isEmpty())
        return false;
    emit signal_log(refusal);
    m_prompts->message(QMessageBox::Warning, refusal);
    return true;
}

bool ZunMaintenanceActions::refusedWhileBusy(const QString& what) { return refused(m_jobs->refusal(what)); }

void ZunMaintenanceActions::eraseFlashMemory()
{
    const QString what = tr("Erase All");
    if (refusedWhileBusy(what)
        || !m_prompts->confirm(tr("This will erase the internal memory ande restore the factory settings. All settings, "
                                  "filters, and setups will be lost. Proceed?")))
        return;
    // Begun alone by the device: another operation may have begun while the operator decided.
    QString running;
    if (!m_zun->EraseFlashMemory(&running)) {
        refused(m_jobs->refusal(what, running));
        return;
    }
    startLongOperation(ZunLongOperation::Erase, tr("Erasing internal memory. Please wait ..."));
}

void ZunMaintenanceActions::restoreDefaultSettings()
{
    const QString what = tr("the restore of the default settings");
    if (refusedWhileBusy(what)
        || !m_prompts->confirm(tr("This will set all gains, delays, EQs, etc. to default settings. All settings made since "
                                  "the last setup recall will be lost. Proceed?")))
        return;
    QString running;
    if (!m_zun->RestoreDefaultSettings(true, CZunMetaCmd(), &running)) {
        refused(m_jobs->refusal(what, running));
        return;
    }
    startLongOperation(ZunLongOperation::Restore, tr("Restoring default settings. Please wait ..."));
}

void ZunMaintenanceActions::onSaveConfig()
{
    const QString start = settings().value(QStringLiteral("SaveConfigDir"), QDir::currentPath()).toString();
    const QString folder = withoutKeepAlive(
        [&]() { return m_prompts->folder(tr("Select an empty directory to save configuration to"), start); });
    if (folder.isEmpty())
        return;
    if (QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System).count() != 2
        && !m_prompts->confirm(tr("The selected directory is not empty which can produce unpredictable behaviour. Do "
                                  "you really want to go on?")))
        return;
    const QDateTime started = QDateTime::currentDateTime().addSecs(-1);
    // Each file that could not be written is named with its reason, in the one box.
    QStringList unwritten;
    m_zun->BackupToDir(folder, &unwritten);
    ZunSettingsWriter::store(QStringLiteral("SaveConfigDir"), folder);
    // What the folder got, beside what the processor lists: the program writes what it has
    // read, and a set or setup not read (yet) is not in the folder.
    auto written = [&](const QString& pattern) {
        int n = 0;
        for (const QFileInfo& f : QDir(folder).entryInfoList({pattern}, QDir::Files))
            n += f.lastModified() >= started ? 1 : 0;
        return n;
    };
    const int sets = written(QStringLiteral("*.fir")), setups = written(QStringLiteral("Set*.zun"));
    // A set stored twice is one file, and an entry that holds no set is none: a save
    // waits for neither.
    const QMap<quint32, int> noSet = m_zun->GetFIRLimManager()->unreadableEntries();
    QSet<quint32> listed;
    for (int slot = 0; slot < m_zun->GetMemoryManager()->filterListSize(); ++slot) {
        const quint32 id = m_zun->GetMemoryManager()->filterIdAt(slot);
        if (id != 0 && !noSet.contains(id))
            listed.insert(id);
    }
    const int listedSets = listed.size();
    const int listedSetups = m_zun->GetMemoryManager()->setupCount();
    if (!unwritten.isEmpty()) {
        QStringList files;
        for (const QString& u : qAsConst(unwritten))
            files << ZunOperatorMessage::unwritten(u);
        const QStorageInfo disk(folder);
        const QString text = tr("The configuration of Zun nr %1 was NOT saved whole to %2 (its disk has %3 free): %4 "
                                "FIR/limiter sets and %5 setups were written. Not saved:\n%6")
                                 .arg(m_zun->GetNr())
                                 .arg(QDir::toNativeSeparators(folder),
                                      disk.isValid() ? tr("%1 kB").arg(disk.bytesAvailable() / 1024)
                                                     : tr("an unknown space"))
                                 .arg(sets)
                                 .arg(setups)
                                 .arg(files.join(QLatin1Char('\n')));
        emit signal_log(text);
        m_prompts->message(QMessageBox::Warning, text);
        return;
    }
    QString text = tr("Configuration of Zun nr %1 saved to %2: %3 of %4 FIR/limiter sets and %5 of %6 setups "
                      "the processor lists.")
                       .arg(m_zun->GetNr())
                       .arg(QDir::toNativeSeparators(folder))
                       .arg(sets)
                       .arg(listedSets)
                       .arg(setups)
                       .arg(listedSetups);
    if (!noSet.isEmpty())
        text += tr("\nThe flash also lists %1 that hold%2 no FIR/limiter set (a store another program spoiled); "
                   "\"Remove FIR\" offers %3 for removal.")
                    .arg(noSet.size() == 1 ? tr("an entry") : tr("%1 entries").arg(noSet.size()),
                         noSet.size() == 1 ? QStringLiteral("s") : QString(),
                         noSet.size() == 1 ? tr("it") : tr("them"));
    emit signal_log(text);
    // Before the processor's lists were read (just after connecting, or a link lost before
    // then) "0 of 0" would read as complete.
    if (!m_zun->GetMemoryManager()->isValid())
        m_prompts->message(QMessageBox::Warning,
                           tr("Configuration of Zun nr %1 saved to %2: %3 FIR/limiter sets and %4 setups.\nThe "
                              "processor's lists were not read yet, so what it holds is NOT all in the folder. Save "
                              "again once the link is up and the lists are complete.")
                               .arg(m_zun->GetNr())
                               .arg(QDir::toNativeSeparators(folder))
                               .arg(sets)
                               .arg(setups));
    else if (sets < listedSets || setups < listedSetups)
        m_prompts->message(QMessageBox::Warning,
                           text + (m_zun->IsConnected()
                                       ? tr("\nThe others have not been read from the processor yet, so they are NOT "
                                            "in the folder. Save again once its lists are read.")
                                       : tr("\nThe others were not read from the processor, so they are NOT in the "
                                            "folder. Save again once the link is back and the lists are complete.")));
    else
        m_prompts->message(QMessageBox::Information, text);
}

void ZunMaintenanceActions::onLoadConfig()
{
    const QString what = tr("the configuration load");
    if (refusedWhileBusy(what))
        return;
    const QString start = settings().value(QStringLiteral("SaveConfigDir"), QDir::currentPath()).toString();
    const QString folder =
        withoutKeepAlive([&]() { return m_prompts->folder(tr("Select directory to load configuration from"), start); });
    if (folder.isEmpty())
        return;
    QString refusal;
    if (!m_jobs->begin(ZunLongOperation::ConfigLoad, what, &refusal)) {
        refused(refusal);
        return;
    }
    ZunSettingsWriter::store(QStringLiteral("SaveConfigDir"), folder);
    emit longOperationStarted(ZunLongOperation::ConfigLoad);
    // A load cut by a kill is named at the next connection with what of the folder is stored.
    m_zun->GetOperations()->note(ZunLongOperation::ConfigLoad, QStringLiteral("folder"), folder);
    // The load waits for the managers' threads and then for the flash: never in the GUI
    // thread. It ends with its own report, whatever else the processor reports meanwhile.
    QSharedPointer<CZun> zun = m_zun;
    // The report for the log, and the one warning about what was loaded though odd.
    using Outcome = QPair<QString, QString>;
    auto* load = new QFutureWatcher<Outcome>(this);
    connect(load, &QFutureWatcher<Outcome>::finished, this, [this, load]() {
        const Outcome outcome = load->result();
        emit signal_log(outcome.first);
        m_jobs->end(ZunLongOperation::ConfigLoad);
        emit longOperationFinished(ZunLongOperation::ConfigLoad);
        // Several windows may load at once: the box says which processor it is about.
        if (!outcome.second.isEmpty())
            m_prompts->message(QMessageBox::Warning, tr("Configuration load to Zun nr %1 (%2):\n%3")
                                                         .arg(m_zun->GetNr())
                                                         .arg(m_zun->GetName(), outcome.second));
        load->deleteLater();
    });
    load->setFuture(QtConcurrent::run([zun, folder]() {
        ZunConfigFolder found = zun->InvokeFromDir(folder);
        if (!found.canLoad())
            return Outcome(found.report(), QString());
        const bool settled = zun->WaitForFlashTransfers(ConfigLoadLimitMs);
        // The load ends with the link: what the processor confirmed before is stored.
        if (!zun->IsConnected())
            return Outcome(QStringLiteral("The configuration from %1 was not loaded completely: the link to the "
                                          "processor was lost. What the processor confirmed before is stored; the "
                                          "FIR sets and setups named as not stored, and the files not yet sent, are "
                                          "not. Check the lists after reconnecting.")
                               .arg(QDir::toNativeSeparators(folder)),
                           QString());
        // What the log says was loaded is what the processor's flash shows.
        found.confirm(zun.data(), ConfigConfirmLimitMs);
        QString report = found.report();
        if (!settled)
            report += QStringLiteral("\nThe processor did not confirm every transfer; check the lists of FIR sets "
                                     "and setups.");
        return Outcome(report, found.warning());
    }));
}

void ZunMaintenanceActions::updateFirmware()
{
    // The device begins the update alone, and refuses it with its end's box while another
    // operation runs; asked here before the operator chooses a file.
    if (refusedWhileBusy(tr("the firmware update")))
        return;
    const QString start = settings().value(QStringLiteral("FirmwareDir"), m_zun->GetConfigDir()).toString();
    const QString file = withoutKeepAlive([&]() { return m_prompts->firmwareFile(start); });
    if (file.isEmpty())
        return;
    emit signal_log(tr("Updating to firmware %1. Software will automatically try to reconnect to Zun after update. "
                       "Please wait ...")
                        .arg(file));
    ZunSettingsWriter::store(QStringLiteral("FirmwareDir"), QFileInfo(file).absolutePath());

    // One set of progress connections per update, whatever was started before.
    disconnectFirmwareProgress();
    CZunStatusBuffer* image = m_zun->GetStatusBuffer();
    m_firmwareProgress << connect(image, &CZunStatusBuffer::signal_BlockTransferFinished, this,
                                  &ZunMaintenanceActions::on_BlockTransfer)
                       << connect(image, &CZunStatusBuffer::signal_MemCopyFinished, this,
                                  &ZunMaintenanceActions::on_MemCopy)
                       << connect(image, &CZunStatusBuffer::signal_FirmwareCheckFinished, this,
                                  &ZunMaintenanceActions::on_FirmwareCheck)
                       // The update's one end, however it ends: told here once.
                       << connect(m_zun->GetFirmwareUpdate(), &ZunFirmwareUpdate::signal_Finished, this,
                                  &ZunMaintenanceActions::on_FirmwareUpdateFinished);
    m_firmwareFile = file;
    m_firmwareUpdateTold = false;
    m_firmwareEnded = false;
    m_firmwarePiecesDue = true;
    try {
        m_zun->UpdateFirmware(file);
    } catch (const std::exception&) {
        // Refused before anything was sent: logged and told by the update's end.
        return;
    }
    emit longOperationStarted(ZunLongOperation::Firmware);
}

void ZunMaintenanceActions::endFirmwareUpdate()
{
    m_firmwarePiecesDue = false;
    if (!std::exchange(m_firmwareEnded, true))
        emit longOperationFinished(ZunLongOperation::Firmware);
}

void ZunMaintenanceActions::setFirmwareFinishDelayMs(int ms) { m_zun->GetFirmwareUpdate()->setFinishDelayMs(ms); }

bool ZunMaintenanceActions::isFirmwareFinishPending() const { return m_zun->GetFirmwareUpdate()->isFinishPending(); }

void ZunMaintenanceActions::disconnectFirmwareProgress() { disconnectAll(m_firmwareProgress); }

// The processor's image reports every block written to it and every copy into its flash;
// only those between the update's start and its check's answer are the update's pieces. A
// FIR set uploaded behind the update (the pass-through set a fresh processor gets when it
// connects) would otherwise leave "Copying to flash mem ..." as the last line of an update
// that has ended, and a call already queued still arrives after the progress is disconnected.
void ZunMaintenanceActions::on_BlockTransfer(quint16 bytes)
{
    if (!m_firmwarePiecesDue)
        return;
    emit signal_log(tr("%1 bytes successfully transferred.\n Copying to flash mem ... ").arg(bytes));
}

void ZunMaintenanceActions::on_MemCopy()
{
    if (m_firmwarePiecesDue)
        emit signal_log(tr("copied."));
}

void ZunMaintenanceActions::on_FirmwareCheck(bool ok)
{
    m_firmwarePiecesDue = false;
    // The FIR selectors stay off until the processor is back; a refusal ends the update.
    if (ok)
        emit signal_log(tr("Firmware uploaded.\n Checking data: ok.\nPerforming update..."));
    else
        endFirmwareUpdate();
}

void ZunMaintenanceActions::on_FirmwareUpdateFinished(int outcome, QString text)
{
    disconnectFirmwareProgress();
    m_firmwarePiecesDue = false;
    switch (ZunOperation::Outcome(outcome)) {
    case ZunOperation::Outcome::Done:
        finishFwUpdate(text);
        return;
    case ZunOperation::Outcome::Refused:
        emit signal_log(text.contains(QLatin1String("failed the processor's check"))
                            ? tr("Firmware uploaded.\n Checking data: invalid firmware.\nUpdate failed.")
                            : text);
        break;
    default:
        // Not the file's fault: the check never got its answer.
        emit signal_log(tr("Firmware uploaded.\n Checking data: no answer%1.\nUpdate not confirmed.")
                            .arg(m_zun->IsConnected() ? QString() : tr(", the link to the processor was lost")));
        break;
    }
    endFirmwareUpdate();
    m_prompts->message(QMessageBox::Warning, text);
}

void ZunMaintenanceActions::on_FirmwareCheckUnanswered() { endFirmwareUpdate(); }

void ZunMaintenanceActions::finishFwUpdate()
{
    // The update's timed end, run now: its end is told as any other.
    if (!m_zun->GetFirmwareUpdate()->finishNow())
        finishFwUpdate(tr("The firmware was updated and the processor restarted. The program reconnects to it."));
}

void ZunMaintenanceActions::finishFwUpdate(const QString& text)
{
    m_firmwareUpdateTold = true;
    endFirmwareUpdate();
    // The processor announced its new firmware: the main window closes this window for it
    // and tells the end.
    if (text.isEmpty())
        return;
    emit signal_log(tr("Update finished."));
    emit ipChanged(m_zun->GetIpAddress());
    emit signal_log(tr("Trying to reconnect..."));
    // Last: the window may close (a new firmware announced) while the box is open.
    m_prompts->message(QMessageBox::Information, text);
}

void ZunMaintenanceActions::onSetDeviceName()
{
    QString name;
    // The field takes what the processor keeps: the name shown is then the one it holds.
    if (m_prompts->textUpTo(tr("Enter desired device name"), tr("Device name:"), tr("Name"), CZun::DeviceNameLength,
                            &name)
        && !name.isEmpty())
        m_zun->SaveDeviceName(name);
}

void ZunMaintenanceActions::onChangeSecurityPIN()
{
    quint16 oldPin = 0;
    quint16 newPin = 0;
    if (m_prompts->pin(&oldPin, &newPin))
        m_zun->SetPin(quint32(oldPin) | quint32(newPin) << 16, newPin);
}

void ZunMaintenanceActions::onSetIP()
{
    QString text;
    // Always the same proposal, not the processor's own address: the question that follows
    // shows both, the current and the new one.
    if (!m_prompts->text(tr("Change IP address"), tr("Enter desired IP address in format 012.345.678.901"),
                         QStringLiteral("192.168.1.15"), &text)
        || text.isEmpty())
        return;
    quint32 address = 0;
    if (!isUnicastIPv4(text, &address)) {
        m_prompts->message(QMessageBox::Warning, tr("Invalid entry, try again."));
        return;
    }
    const QString question = tr("Please check settings for Zun nr %1:\n\nCurrent IP address: \t %2\nNew IP address: \t "
                                "%3.\n Proceed?")
                                 .arg(m_zun->GetNr())
                                 .arg(m_zun->GetIpAddress().toString(), QHostAddress(address).toString());
    if (!m_prompts->ask(question))
        return;
    m_askedIp = QHostAddress(address);
    // The box comes with the processor's answer to both halves, and says when there was none.
    m_zun->SetLinkLossReportedByOperation(true);
    m_zun->SetIP(address);
}

void ZunMaintenanceActions::on_IpChangeFinished(int outcome, quint16 cmd, quint16 value)
{
    const QString asked = m_askedIp.toString();
    const QString refused = ZunOperatorMessage::command(cmd, QString::number(value), m_zun->GetCmdMap().data());
    // No answer means the link is being lost (a command left unanswered ends the
    // connection): the flag then stays until the next connection.
    if (outcome != CZunStatusBuffer::IpUnanswered)
        m_zun->EndLinkLossReport();
    switch (outcome) {
    case CZunStatusBuffer::IpStored:
        m_prompts->message(QMessageBox::Information,
                           tr("IP address %1 transferred to Zun. Switch device off and on again.").arg(asked));
        return;
    case CZunStatusBuffer::IpRefused:
    case CZunStatusBuffer::IpPutBack:
        m_prompts->message(QMessageBox::Warning,
                           tr("The Zun refused the new IP address %1 (%2). Its address for the next start is "
                              "unchanged.")
                               .arg(asked, refused));
        return;
    case CZunStatusBuffer::IpMixed:
        m_prompts->message(QMessageBox::Warning,
                           tr("The Zun refused the new IP address %1 (%2), and the half it had taken could not be "
                              "put back: its address for the next start is a mix of the old and the new one. Change "
                              "the IP address again before switching the device off.")
                               .arg(asked, refused));
        return;
    default:
        m_prompts->message(QMessageBox::Warning,
                           tr("The Zun did not answer the change of its IP address to %1 (%2): its address for the "
                              "next start is not known. Change the IP address again once the link is back.")
                               .arg(asked, refused));
    }
}

void ZunMaintenanceActions::on_LowFlashMemory()
{
    if (m_prompts->garbageCollectionNow(ZunGarbageCollection::offerText()))
        m_zun->doGarbageCollection();
}

void ZunMaintenanceActions::on_BttnRouting()
{
    if (!m_zun)
        return;
    if (!m_zun->IsConnected()) {
        m_prompts->message(QMessageBox::Warning, tr("Please establish a connection first"));
        return;
    }
    if (refusedWhileBusy(tr("the configuration wizard")))
        return;
    CZunConfigWizard wizard(m_zun);
    if (!withoutKeepAlive([&]() { return m_prompts->runWizard(wizard); }))
        return;

    const int clock = wizard.field(QStringLiteral("Clock")).toInt();
    const int multipath1 = wizard.field(QStringLiteral("Multipath1")).toInt();
    const int multipath2 = wizard.field(QStringLiteral("Multipath2")).toInt();
    const int crossover = wizard.field(QStringLiteral("XOverSelect")).toInt();
    // IIR crossovers take no FIR files, whatever the file fields still hold.
    const QString fir1 = crossover != 0 ? wizard.field(QStringLiteral("FIRPath1")).toString() : QString();
    const QString fir2 = crossover != 0 ? wizard.field(QStringLiteral("FIRPath2")).toString() : QString();
    const auto copy1 = ZunC::CopyFIRCoeffsMode(wizard.field(QStringLiteral("CopyFIRCoeffs1")).toInt());
    const auto copy2 = ZunC::CopyFIRCoeffsMode(wizard.field(QStringLiteral("CopyFIRCoeffs2")).toInt());
    const bool advanced = wizard.field(QStringLiteral("AdvancedMode")).toBool();
    const bool keep = wizard.field(QStringLiteral("KeepSettings")).toBool();
    // A routing the pages did not offer is none: routing 0 would silence every output.
    const bool routingChosen =
        advanced ? wizard.field(QStringLiteral("RoutingPreset")).value<CZunRoutingPreset>().getNumber() != 0
                       && wizard.field(QStringLiteral("InputPreset")).value<CZunInputPreset>().getNumber() != 0
                 : wizard.field(QStringLiteral("FullRoutingPreset")).value<CZunFullRoutingPreset>().getPattern() != 0;
    if (!routingChosen) {
        emit signal_log(tr("No routing preset was chosen: nothing was sent to the Zun."));
        return;
    }
    // Watched from the first command on: the link may go while the wizard's commands are
    // sent. Nothing is sent when another operation began while the operator chose.
    QString running;
    if (!watchWizard(&running)) {
        refused(running.isEmpty() ? QString() : m_jobs->refusal(tr("the configuration wizard's Finish"), running));
        return;
    }
    try {
        if (advanced) {
            const auto routing = wizard.field(QStringLiteral("RoutingPreset")).value<CZunRoutingPreset>();
            const auto input = wizard.field(QStringLiteral("InputPreset")).value<CZunInputPreset>();
            m_zun->ApplyRoutingPreset(clock, 0, multipath1, multipath2, crossover, routing, fir1, fir2, input, copy1,
                                      copy2, keep);
        } else {
            const auto full = wizard.field(QStringLiteral("FullRoutingPreset")).value<CZunFullRoutingPreset>();
            m_zun->ApplyFullRoutingPreset(clock, 0, multipath1, multipath2, crossover, full, full.GetRoutingPreset(),
                                          full.GetInputPreset(), fir1, fir2, copy1, copy2, keep);
        }
    } catch (...) {
        endWizardWatch(); // the refusal is reported as it was
        throw;
    }
    if (!m_zun->IsConnected())
        wizardLost();
}

bool ZunMaintenanceActions::watchWizard(QString* running)
{
    endWizardWatch();
    // The wizard's box says that the link was lost and what that left undone: the link's
    // own message goes to the log. Quitting meanwhile asks first.
    m_wizardOperation = m_zun->GetOperations()->beginAlone(ZunLongOperation::Wizard, ZunOperation::LossReport, running);
    if (!m_wizardOperation)
        return false;
    m_wizardLossShown = false;
    m_wizardActivationSent = false;
    // The activation's answer is the last of the wizard's changes. An activation that sends
    // no set, or a refused boot, gets none: the watch ends there too (a refusal has its own
    // box), and a reconnect ends it once the wizard's loss has been reported. Nor does one
    // sent before the link is lost (a processor fallen silent): once sent and the link lost,
    // nothing of the wizard is left to come.
    auto lostAfterActivation = [this]() {
        if (m_zun->IsConnected() || !m_wizardActivationSent)
            return;
        wizardLost();
        endWizardWatch();
    };
    m_wizardWatch << connect(m_zun->GetStatusBuffer(), &CZunStatusBuffer::signal_FIRFilterSelect, this,
                             &ZunMaintenanceActions::endWizardWatch, Qt::QueuedConnection)
                  << connect(m_zun->GetFIRLimManager(), &CZunFIRLimManager::signal_ActivationUnanswered, this,
                             [this]() {
                                 if (!m_zun->IsConnected())
                                     wizardLost();
                                 endWizardWatch();
                             },
                             Qt::QueuedConnection)
                  << connect(m_zun->GetFIRLimManager(), &CZunFIRLimManager::signal_ActivationSent, this,
                             [this, lostAfterActivation]() {
                                 // the wizard's own: sent by its last step
                                 m_wizardActivationSent = m_wizardActivationSent || !m_zun->IsApplyingRouting();
                                 lostAfterActivation();
                             },
                             Qt::QueuedConnection)
                  << connect(m_zun.data(), &CZun::signal_DSPProgramSelect, this,
                             [this](bool ok, quint16 first) {
                                 if (!ok && first == 0)
                                     endWizardWatch();
                             },
                             Qt::QueuedConnection)
                  << connect(m_zun->GetRoutingSteps(), &ZunTimedSteps::signal_Finished, this,
                             [this](bool ok) {
                                 if (!ok)
                                     endWizardWatch(); // the failed step has its own box
                             })
                  << connect(m_zun.data(), &CZun::signal_Disconnected, this,
                             [this, lostAfterActivation]() {
                                 wizardLost();
                                 lostAfterActivation();
                             },
                             Qt::QueuedConnection)
                  << connect(m_zun.data(), &CZun::signal_Connected, this, &ZunMaintenanceActions::endWizardWatch,
                             Qt::QueuedConnection);
    m_wizardWatchLimit.start();
    if (m_zun->IsConnected())
        return true;
    wizardLost();
    endWizardWatch(); // nothing of the wizard was sent: later losses have their own box
    return false;
}

void ZunMaintenanceActions::wizardLost()
{
    if (m_wizardWatch.isEmpty() || m_wizardLossShown)
        return; // the changes were run, or their loss was reported already
    // The watch goes on until the wizard's last work has ended (it is only logged), or the
    // link comes back.
    m_wizardLossShown = true;
    m_prompts->message(QMessageBox::Warning,
                       tr("The configuration wizard's changes were not applied, or only in part: the link to the "
                          "processor was lost before it ran them. Check the routing and the FIR sets after "
                          "reconnecting, and run the wizard again."));
}

void ZunMaintenanceActions::endWizardWatch()
{
    m_wizardWatchLimit.stop();
    disconnectAll(m_wizardWatch);
    // A loss it told in its own box ends it too: later losses have their own box.
    if (const QSharedPointer<ZunOperation> wizard = std::exchange(m_wizardOperation, {}))
        wizard->finish(ZunOperation::Outcome::Done);
}
