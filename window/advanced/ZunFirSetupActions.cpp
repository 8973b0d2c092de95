#include "ZunFirSetupActions.h"

#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "XOverPage.h"
#include "ZunKeepAliveRest.h"
#include "ZunOperations.h"
#include "ZunSettingsWriter.h"
#include "ZunSetup.h"
#include "ZunTabJobs.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardItemModel>

#include <utility>

namespace
{
constexpr int IdRole = Qt::UserRole;
constexpr quint32 KeepSet = 0xFFFFFFFFu;
// The sample rate the FIR/limiter manager reads FIR files with.
constexpr double FileSampleRate = 48000.0;
// The setup position the processor reports while no stored setup is active.
constexpr quint16 NoActiveSetup = 0xCDEF;

QSettings userSettings() { return QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")); }

void storeSettingsFolder(const char* key, const QString& folder)
{
    ZunSettingsWriter::store(QString::fromLatin1(key), folder);
}

bool xmlFir() { return userSettings().value(QStringLiteral("xmlFir"), false).toBool(); }

// The filters library's message: its text and, for a set that cannot run, what exactly.
QString libraryMessage(const std::exception& e) { return CBlockFIR::invalid_filter::textOf(e); }

// The file in folder under name, or empty when it would lie anywhere else.
QString fileInFolder(const QString& folder, const QString& name)
{
    const QFileInfo target(QDir(folder).filePath(name));
    if (name.isEmpty() || QFileInfo(name).fileName() != name || target.absolutePath() != QFileInfo(folder).absoluteFilePath())
        return QString();
    return target.absoluteFilePath();
}
} // namespace

ZunFirSetupActions::ZunFirSetupActions(QSharedPointer<CZun> zun, QWidget* tab, QSharedPointer<ZunTabJobs> jobs)
    : QObject(tab), m_zun(std::move(zun)), m_jobs(jobs ? std::move(jobs) : QSharedPointer<ZunTabJobs>::create(m_zun)),
      m_prompts(new Prompts(tab))
{
}

ZunFirSetupActions::~ZunFirSetupActions() = default;

void ZunFirSetupActions::setPrompts(std::unique_ptr<Prompts> prompts) { m_prompts = std::move(prompts); }

QString ZunFirSetupActions::settingsFolder(const char* key) const
{
    return userSettings().value(QString::fromLatin1(key), m_zun->GetConfigDir()).toString();
}

QString ZunFirSetupActions::downloadFolder(const QString& title, const char* key)
{
    QString folder;
    {
        const ZunKeepAliveRest rest(m_zun.data());
        folder = m_prompts->folder(title, settingsFolder(key));
    }
    if (!folder.isEmpty())
        storeSettingsFolder(key, folder);
    return folder;
}

// --- FIR sets ------------------------------------------------------------------------------

void ZunFirSetupActions::chooseFIRFilter(int dsp, quint32 id, bool linked)
{
    if (id == 0)
        return; // no set in that row: nothing to activate
    if (!beganAlone(ZunLongOperation::FirChoice, tr("the activation of a FIR set"), QStringLiteral("ZunControl"))) {
        emit firChoiceRefused();
        return;
    }
    emit longOperationStarted(ZunLongOperation::FirChoice);
    // Refused before anything is sent: a set at another rate than the processor runs (its
    // crossovers and limiter times would scale with the ratio), or one the DSP can not run.
    QString refusal;
    try {
        if (const QShPtrFLE set = m_zun->GetFIRLimManager()->GetFIRFilter(id))
            refusal = XOverPage::sampleRateRefusal(*m_zun, set->sampleRate(), true);
        if (refusal.isEmpty())
            m_zun->CheckFIRFilterResources(id, 0);
    } catch (const std::exception& e) {
        refusal = libraryMessage(e);
    }
    if (!refusal.isEmpty()) {
        emit firChoiceRefused();
        emit signal_exception(refusal, QStringLiteral("ZunControl"));
        emit longOperationFinished(ZunLongOperation::FirChoice);
        return;
    }
    // Copy modes are the configuration wizard's: a set chosen here keeps each DSP's mode,
    // and a DSP the operator did not choose for keeps its set as well (a multipath set-up
    // keeps its copied coefficients).
    bool queued;
    if (dsp == 2)
        queued = m_zun->InvokeActivateFIRFilter(KeepSet, ZunC::Unchanged, id, ZunC::Unchanged);
    else if (linked)
        queued = m_zun->InvokeActivateFIRFilter(id, ZunC::Unchanged, id, ZunC::Unchanged);
    else
        queued = m_zun->InvokeActivateFIRFilter(id, ZunC::Unchanged, KeepSet, ZunC::Unchanged);
    if (!queued)
        emit longOperationFinished(ZunLongOperation::FirChoice);
}

void ZunFirSetupActions::uploadFIRFilter()
{
    if (refusedWhileBusy(tr("the FIR set upload"), tr("Upload FIR Filter")))
        return;
    const QString filter = xmlFir() ? tr("Zun FIR Filter (*.fir *.blk *.xml)") : tr("Zun FIR Filter (*.fir *.blk)");
    QString file;
    {
        const ZunKeepAliveRest rest(m_zun.data());
        file = m_prompts->openFile(tr("Open File"), settingsFolder("FilterDir"), filter);
    }
    if (!file.isEmpty())
        startFIRFilterUpload(file);
}

bool ZunFirSetupActions::refusedWhileBusy(const QString& what, const QString& caption)
{
    const QString refusal = m_jobs->refusal(what);
    if (!refusal.isEmpty())
        emit signal_exception(refusal, caption);
    return !refusal.isEmpty();
}

bool ZunFirSetupActions::beganAlone(ZunLongOperation kind, const QString& what, const QString& caption)
{
    QString refusal;
    if (m_jobs->begin(kind, what, &refusal))
        return true;
    emit signal_exception(refusal, caption);
    return false;
}

bool ZunFirSetupActions::refusedWithoutLink(const QString& what, const QString& caption)
{
    // Started without a link, a transfer would end in no report at all (an operation that
    // reported the loss itself, as the wizard does, keeps the managers' reports in the log):
    // the tab would stay busy. Refused here, with its own box.
    if (m_zun->IsConnected())
        return false;
    emit signal_exception(tr("%1 was not stored: the link to the processor is lost. Reconnect, then upload it again.")
                              .arg(what),
                          caption);
    return true;
}

bool ZunFirSetupActions::startFIRFilterUpload(const QString& file)
{
    // Read here first: a file the filters library refuses is refused with its message,
    // and a set the device holds already starts nothing that would never end. A rate no
    // clock of this processor runs is refused as the configuration wizard refuses it; one
    // it runs after a clock change is stored (a setup may need it), though it can not be
    // chosen while the processor runs another.
    quint32 key = 0;
    QString name;
    QString refusal;
    try {
        const FilterLimiterEWS probe(file, FileSampleRate);
        key = probe.getKey();
        name = probe.GetName();
        refusal = XOverPage::sampleRateRefusal(*m_zun, probe.sampleRate(), false);
    } catch (const std::exception& e) {
        refusal = libraryMessage(e);
    }
    if (!refusal.isEmpty()) {
        emit signal_exception(refusal, tr("Upload FIR Filter"));
        return false;
    }
    if (m_zun->GetFIRLimManager()->GetFIRFilter(key)) {
        emit signal_log(tr("FIR filter %1 is already stored in the Zun.").arg(name));
        return false;
    }
    if (refusedWithoutLink(tr("FIR filter %1").arg(name), tr("Upload FIR Filter"))
        || !beganAlone(ZunLongOperation::FirUpload, tr("the upload of FIR filter %1").arg(name),
                            tr("Upload FIR Filter")))
        return false;
    m_zun->UploadFIRFilterFile(file, 0);
    emit signal_log(tr("Uploading filter from %1. Please wait ...").arg(file));
    m_upload = {key, name};
    emit longOperationStarted(ZunLongOperation::FirUpload);
    ZunOperations* operations = m_zun->GetOperations();
    operations->note(ZunLongOperation::FirUpload, QStringLiteral("file"), file);
    operations->note(ZunLongOperation::FirUpload, QStringLiteral("set"), key);
    storeSettingsFolder("FilterDir", QFileInfo(file).absolutePath());
    return true;
}

QString ZunFirSetupActions::firUploadEnded(bool* failed)
{
    *failed = false;
    const Upload upload = std::exchange(m_upload, {});
    if (upload.key == 0)
        return QString();
    // A set the flash refused leaves the list; one whose store is still unconfirmed when the
    // link goes is shown by the next connection.
    const CZunFIRLimManager* fir = m_zun->GetFIRLimManager();
    const bool listed = fir->GetFIRFilter(upload.key) != nullptr, pending = fir->pendingUploads() > 0;
    if (m_zun->GetMemoryManager()->hasFilterId(upload.key) || (m_zun->IsConnected() && listed && !pending))
        return tr("FIR filter %1 stored in the Zun.").arg(upload.name);
    *failed = true;
    if (!m_zun->IsConnected())
        return tr("FIR filter %1: the link to the processor was lost before the Zun confirmed the store. The next "
                  "connection shows whether the Zun holds it.")
            .arg(upload.name);
    if (listed) {
        *failed = false; // the answer is still to come
        return tr("FIR filter %1: the upload ended here before the Zun confirmed the store; the list of sets shows "
                  "it once the Zun has stored it.")
            .arg(upload.name);
    }
    return tr("FIR filter %1 was NOT stored in the Zun.").arg(upload.name);
}

void ZunFirSetupActions::downloadFIRFilter()
{
    CZunFIRLimManager* fir = m_zun->GetFIRLimManager();
    Prompts::Choice choice;
    choice.title = tr("Download FIR Filter");
    choice.button = tr("Select Filter");
    choice.label = tr("Select the FIR filter to be stored to your hard disk");
    choice.start = fir->GetActiveFIRFilterRow(0);
    int row = -1;
    if (!m_prompts->chooseRow(choice, fir->GetFirModel(), &row, nullptr) || row < 0)
        return;
    const QString folder = downloadFolder(tr("Select directory to download filter to"), "FilterDir");
    if (folder.isEmpty())
        return;
    const quint32 id = fir->GetFirModel()->index(row, 0).data(IdRole).toUInt();
    downloadFIRFilterTo(id, folder);
}

QString ZunFirSetupActions::downloadFIRFilterTo(quint32 id, const QString& folder)
{
    const QShPtrFLE filter = m_zun->GetFIRLimManager()->GetFIRFilter(id);
    if (!filter)
        return QString();
    const bool xml = xmlFir();
    QString name = filter->makeFileName();
    if (xml && name.endsWith(QStringLiteral(".fir")))
        name = name.left(name.size() - 4) + QStringLiteral(".xml");
    const QString target = fileInFolder(folder, name);
    if (target.isEmpty()) {
        emit signal_exception(tr("The filter %1 can not be stored in %2.").arg(filter->GetName(), folder),
                              tr("Download FIR Filter"));
        return QString();
    }
    try {
        if (xml)
            filter->exportXml(target);
        else
            filter->toFile(target);
    } catch (const std::exception& e) {
        emit signal_exception(libraryMessage(e), tr("Download FIR Filter"));
        return QString();
    }
    return target;
}

QString ZunFirSetupActions::firRemovalRefusal(quint32 id) const
{
    if (id == m_zun->GetActiveFilterIndex(1) || id == m_zun->GetActiveFilterIndex(2))
        return tr("The selected filter is currently active and can not be deleted.  ");
    const QStringList setups = m_zun->GetSetupManager()->GetSetupsUsingFir(id);
    if (setups.isEmpty())
        return QString();
    QString text = tr("The selected filter is being used by the following setups:\n");
    for (const QString& s : setups)
        text += s.trimmed() + QStringLiteral("\n");
    return text + tr("You have to delete the setups first.");
}

void ZunFirSetupActions::removeFIRFilter()
{
    // The sets, and the flash entries of the list that hold no set (a store that took
    // another program's bytes): those can only be removed.
    const QStandardItemModel* sets = m_zun->GetFIRLimManager()->GetFirModel();
    QStandardItemModel offered;
    for (int r = 0; r < sets->rowCount(); ++r) {
        auto* item = new QStandardItem(sets->item(r)->text());
        item->setData(sets->item(r)->data(IdRole), IdRole);
        offered.appendRow(item);
    }
    const QMap<quint32, int> unreadable = m_zun->GetFIRLimManager()->unreadableEntries();
    for (auto it = unreadable.cbegin(); it != unreadable.cend(); ++it) {
        auto* item = new QStandardItem(
            tr("Flash entry %1 (holds no FIR/limiter set)").arg(it.key(), 8, 16, QLatin1Char('0')));
        item->setData(it.key(), IdRole);
        offered.appendRow(item);
    }
    Prompts::Choice choice;
    choice.title = QStringLiteral("Remove FIR Filter");
    int position = -1;
    if (!m_prompts->chooseRow(choice, &offered, &position, nullptr))
        return;
    const QModelIndex row = offered.index(position, 0);
    const quint32 id = row.data(IdRole).toUInt();
    const QString refusal = firRemovalRefusal(id);
    if (!refusal.isEmpty()) {
        m_prompts->message(QMessageBox::Warning, refusal, true);
        // The form again, once this box has closed.
        QMetaObject::invokeMethod(this, &ZunFirSetupActions::removeFIRFilter, Qt::QueuedConnection);
        return;
    }
    emit signal_log(tr("Removing FIR filter %1.").arg(row.data(Qt::DisplayRole).toString()));
    m_zun->RemoveFIRFilter(id);
}

// --- setups --------------------------------------------------------------------------------

bool ZunFirSetupActions::isSetupPositionEmpty(int position) const
{
    return m_zun->GetMemoryManager()->setupIdAt(position) == 0;
}

bool ZunFirSetupActions::confirmOverwrite(int position)
{
    return isSetupPositionEmpty(position)
        || m_prompts->confirm(tr("The selected setup position is not empty and will be overwritten. Continue?"));
}

void ZunFirSetupActions::uploadSetup()
{
    if (refusedWhileBusy(tr("the setup upload"), tr("Upload Setup")))
        return;
    QString file;
    int position = -1;
    bool chosen = false;
    {
        const ZunKeepAliveRest rest(m_zun.data());
        chosen = m_prompts->setupFile(settingsFolder("SetupDir"), m_zun->GetSetupManager()->setupModel(), &file, &position);
    }
    if (!chosen || !confirmOverwrite(position))
        return;
    startSetupUpload(file, position);
}

bool ZunFirSetupActions::startSetupUpload(const QString& file, int position)
{
    try {
        // Read without a device: nothing is handed on, only the file is checked.
        const ZunSetup probe(nullptr, file);
    } catch (const std::exception& e) {
        emit signal_exception(libraryMessage(e), tr("Upload Setup"));
        return false;
    }
    if (refusedWithoutLink(tr("The setup from %1").arg(QFileInfo(file).fileName()), tr("Upload Setup"))
        || !beganAlone(ZunLongOperation::SetupUpload,
                            tr("the upload of the setup %1").arg(QFileInfo(file).fileName()), tr("Upload Setup")))
        return false;
    emit signal_log(tr("Uploading setup from %1. Please wait ...").arg(file));
    emit longOperationStarted(ZunLongOperation::SetupUpload);
    m_zun->UploadSetup(file, position);
    storeSettingsFolder("SetupDir", QFileInfo(file).absolutePath());
    return true;
}

void ZunFirSetupActions::downloadSetup()
{
    Prompts::Choice choice;
    choice.title = tr("Download Setup");
    choice.button = tr("Select Setup");
    choice.label = tr("Select the setup to be stored to your hard disk");
    const quint16 active = m_zun->GetActiveSetup();
    choice.start = active == NoActiveSetup ? 0xFFFF : active;
    int position = -1;
    if (!m_prompts->chooseRow(choice, m_zun->GetSetupManager()->setupModel(), &position, nullptr) || position < 0)
        return;
    if (isSetupPositionEmpty(position)) {
        m_prompts->message(QMessageBox::Warning, tr("Empty or invalid setup. Please try again."), false);
        return;
    }
    const QString folder = downloadFolder(tr("Select directory to download setup to"), "SetupDir");
    if (!folder.isEmpty())
        downloadSetupTo(position, folder);
}

QString ZunFirSetupActions::downloadSetupTo(int position, const QString& folder)
{
    try {
        ZunSetup* setup = m_zun->GetSetupManager()->GetSetup(position);
        if (!setup) {
            emit signal_exception(tr("Empty or invalid setup. Please try again."), tr("Download Setup"));
            return QString();
        }
        const QString target = fileInFolder(folder, setup->makeFileName(-1));
        if (target.isEmpty()) {
            emit signal_exception(tr("The setup %1 can not be stored in %2.").arg(setup->GetSetupName(), folder),
                                  tr("Download Setup"));
            return QString();
        }
        setup->toFile(folder, -1);
        return target;
    } catch (const std::exception& e) {
        emit signal_exception(QString::fromStdString(e.what()), tr("Download Setup"));
        return QString();
    }
}

void ZunFirSetupActions::removeSetup()
{
    Prompts::Choice choice;
    choice.title = tr("Remove Setup");
    int position = -1;
    if (!m_prompts->chooseRow(choice, m_zun->GetSetupManager()->setupModel(), &position, nullptr))
        return;
    if (isSetupPositionEmpty(position)) {
        emit signal_exception(tr("Empty setups can not be deleted."), tr("Remove Setup Error"));
        return;
    }
    emit signal_log(tr("Removing setup from position %1.").arg(position));
    m_zun->RemoveSetup(position);
}

void ZunFirSetupActions::storeSetup()
{
    if (refusedWhileBusy(tr("the store of a setup"), tr("Save Setup")))
        return;
    // The form edits a copy of the setup list: a typed name reaches the list (from which
    // the system tab recalls by name) only as a setup the processor has stored.
    QStandardItemModel names;
    const QAbstractItemModel* list = m_zun->GetSetupManager()->setupModel();
    for (int row = 0; row < list->rowCount(); ++row)
        names.appendRow(new QStandardItem(list->index(row, 0).data(Qt::DisplayRole).toString()));
    Prompts::Choice choice;
    choice.title = tr("Save Setup");
    choice.editable = true;
    const quint16 active = m_zun->GetActiveSetup();
    choice.start = active == NoActiveSetup ? 0 : active;
    choice.button = tr("Save setup");
    choice.label = tr("Select the desired position, edit the name and press 'Save setup'");
    int position = -1;
    QString name;
    if (!m_prompts->chooseRow(choice, &names, &position, &name))
        return;
    storeSetupAs(position, name);
}

bool ZunFirSetupActions::storeSetupAs(int position, const QString& name)
{
    // The empty-position placeholder would be stored as a name and then look empty in
    // every list.
    const QString stored = name.trimmed();
    if (stored.isEmpty() || stored == QString::fromLatin1(CZunSetupManager::EmptyRowText).trimmed()) {
        m_prompts->message(QMessageBox::Information, tr("Please enter a name for the setup. Nothing was stored."), true);
        return false;
    }
    try {
        if (!confirmOverwrite(position) || refusedWhileBusy(tr("the store of the setup %1").arg(stored), tr("Save Setup")))
            return false;
        m_zun->SaveSetup(quint16(position), stored);
    } catch (const std::exception& e) {
        m_prompts->message(QMessageBox::Information, tr(e.what()), true);
        return false;
    }
    return true;
}
