#include "ZunConfigFolder.h"

#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "FilterLimiterEWS.h"
#include "ZunBackupRecord.h"
#include "ZunCount.h"
#include "ZunSampleRateRule.h"
#include "ZunOwnStores.h"
#include "ZunSetup.h"

#include <QAtomicInt>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSharedPointer>
#include <QThread>

#ifdef Q_OS_UNIX
#include <dirent.h>
#endif

namespace
{
// The sample rate the FIR/limiter manager reads FIR files with.
constexpr double FileSampleRate = 48000.0;

QString reasonOf(const std::exception& e) { return CBlockFIR::invalid_filter::textOf(e); }

QString firSets(int n) { return ZunCount::of(n, QStringLiteral("FIR set"), QStringLiteral("FIR sets")); }

// The files whose names the system's encoding can not read: the folder listing leaves them
// out without a word, and no load can open them.
QStringList unreadableNames(const QString& folder)
{
    QStringList names;
#ifdef Q_OS_UNIX
    if (DIR* dir = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray raw(entry->d_name);
            if (QFile::encodeName(QFile::decodeName(raw)) != raw)
                names << QString::fromUtf8(raw); // the bytes it can not read shown as such
        }
        ::closedir(dir);
    }
    names.sort();
#else
    Q_UNUSED(folder);
#endif
    return names;
}
} // namespace

ZunConfigFolder::ZunConfigFolder(CZun* device, const QString& folder) : m_folder(folder)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        m_refused << QStringLiteral("%1: the folder does not exist").arg(folder);
        return;
    }
    CMemoryManager* memory = device->GetMemoryManager();
    const bool xml = QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).value(QStringLiteral("xmlFir")).toBool();

    QStringList firFilters{QStringLiteral("*.fir")};
    if (xml)
        firFilters << QStringLiteral("*.xml");
    for (const QString& name : unreadableNames(folder))
        m_skipped << QStringLiteral("%1: its name is not text in the system's encoding (UTF-8), so it can not be "
                                    "opened; rename it to load it")
                         .arg(name);
    // The managers read neither hidden files nor files of other kinds: each is named.
    for (const QFileInfo& fi : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        if (fi.fileName() == QLatin1String(ZunBackupRecord::FileName))
            continue; // a garbage collection's record of its backup: no file to load
        if (fi.isHidden())
            m_skipped << QStringLiteral("%1: hidden files are not loaded").arg(fi.fileName());
        else if (!QDir::match(firFilters + QStringList(QStringLiteral("*.zun")), fi.fileName()))
            m_skipped << QStringLiteral("%1: neither a FIR set (.fir) nor a setup (.zun)").arg(fi.fileName());
    }
    for (const QFileInfo& fi : dir.entryInfoList(firFilters, QDir::Files, QDir::Name)) {
        quint32 id = 0;
        const QString refusal = setRefusal(device, fi.absoluteFilePath(), &id);
        if (!refusal.isEmpty())
            m_refused << QStringLiteral("%1: %2").arg(fi.fileName(), refusal);
        else if (memory->hasFilterId(id) || device->GetFIRLimManager()->GetFIRFilter(id))
            m_skipped << QStringLiteral("%1: the FIR set is stored in the processor already").arg(fi.fileName());
        else if (!m_setFiles.contains(id))
            m_setFiles.insert(id, fi.fileName());
    }
    m_sets = m_setFiles.size();
    m_own = QSharedPointer<ZunOwnStores>::create(device);
    for (auto it = m_setFiles.cbegin(); it != m_setFiles.cend(); ++it)
        m_own->meanSet(it.key());

    const int positions = memory->setupListSize();
    int outside = 0;
    for (const QFileInfo& fi : dir.entryInfoList({QStringLiteral("*.zun")}, QDir::Files, QDir::Name)) {
        const int position = ZunSetup::numberFromFileName(fi.completeBaseName());
        // The setup manager takes "Set<position>..." files only.
        if (!fi.fileName().startsWith(QStringLiteral("Set"), Qt::CaseInsensitive) || position < 0) {
            m_skipped << QStringLiteral("%1: the name gives no setup position (\"SetNN_name.zun\")").arg(fi.fileName());
            continue;
        }
        quint32 id = 0;
        QStringList odd;
        const QString refusal = setupRefusal(device, fi.absoluteFilePath(), position, &id, &odd);
        if (position >= positions) {
            // Left out, but counted against the room in the flash as the load counts it.
            m_skipped << QStringLiteral("%1: %2").arg(fi.fileName(), refusal);
            ++outside;
            continue;
        }
        if (!refusal.isEmpty()) {
            m_refused << QStringLiteral("%1: %2").arg(fi.fileName(), refusal);
            continue;
        }
        for (const QString& o : qAsConst(odd))
            m_odd << QStringLiteral("%1: %2").arg(fi.fileName(), o);
        if (m_setupFiles.contains(position)) {
            m_refused << QStringLiteral("%1: a second setup for position %2").arg(fi.fileName()).arg(position);
            continue;
        }
        m_setupFiles.insert(position, {fi.fileName(), id});
        m_own->meanSetup(position, id);
    }
    m_setups = m_setupFiles.size();
    if (m_refused.isEmpty() && memory->freeEntries() < m_sets + m_setups + outside)
        m_refused << QStringLiteral("%1 and %2 need more room than the flash of the processor has left")
                         .arg(firSets(m_sets), ZunCount::setups(m_setups));
}

QString ZunConfigFolder::setRefusal(CZun* device, const QString& path, quint32* id)
{
    try {
        const FilterLimiterEWS set(path, FileSampleRate);
        *id = set.getKey();
        // As "Upload FIR Filter" refuses it: a set one of the clocks runs may be needed by a
        // setup after a clock change.
        return ZunSampleRateRule::refusal(*device, set.sampleRate(), false);
    } catch (const std::exception& e) {
        return reasonOf(e);
    }
}

QString ZunConfigFolder::setupRefusal(CZun* device, const QString& path, int position, quint32* id, QStringList* odd)
{
    if (position < 0 || position >= device->GetMemoryManager()->setupListSize())
        return QStringLiteral("the processor has no setup position %1").arg(position);
    try {
        // Read for this processor as the setup manager reads it (its firmware: a setup of
        // newer firmware is refused here); the FIR sets inside are not handed on.
        ZunSetup setup(device, path);
        const QString bad = setup.outOfRange(device);
        if (!bad.isEmpty())
            return bad;
        *odd = setup.oddities(device);
        // The image as the upload sends it, and so the id the flash will list.
        setup.AdaptDSPProgIDs(device->GetDSPType(), device->GetFirmwareVersion());
        *id = setup.GetCRC();
    } catch (const std::exception& e) {
        return reasonOf(e);
    }
    return QString();
}

void ZunConfigFolder::confirm(CZun* device, int timeoutMs)
{
    if (!canLoad())
        return;
    CMemoryManager* memory = device->GetMemoryManager();
    auto missing = [&]() {
        QStringList files;
        for (auto it = m_setFiles.cbegin(); it != m_setFiles.cend(); ++it)
            if (!memory->hasFilterId(it.key()))
                files << it.value();
        for (auto it = m_setupFiles.cbegin(); it != m_setupFiles.cend(); ++it)
            if (memory->setupIdAt(it.key()) != it.value().second)
                files << it.value().first;
        return files;
    };
    // A directory read asked for now answers after every transfer of the load.
    const auto reads = QSharedPointer<QAtomicInt>::create(0);
    const QMetaObject::Connection read =
        QObject::connect(memory, &CMemoryManager::signal_MemDirChanged, [reads]() { reads->ref(); });
    QMetaObject::invokeMethod(device, "RefreshMemDir", Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    while (reads->loadAcquire() == 0 && !missing().isEmpty() && device->IsConnected() && !clock.hasExpired(timeoutMs))
        QThread::msleep(20);
    QObject::disconnect(read);
    if (device->IsConnected())
        m_tidied = m_own->tidy(timeoutMs);
    m_leftAlone = m_own->leftAlone();

    m_notStored = missing();
    m_positions.clear();
    for (auto it = m_setupFiles.cbegin(); it != m_setupFiles.cend(); ++it) {
        const quint32 held = memory->setupIdAt(it.key());
        m_positions << QStringLiteral("%1: %2").arg(it.key()).arg(
            held == it.value().second ? it.value().first
            : held == 0               ? QStringLiteral("nothing")
                                      : QStringLiteral("another setup, not %1").arg(it.value().first));
    }
    m_sets = 0;
    for (const QString& file : qAsConst(m_setFiles))
        m_sets += m_notStored.contains(file) ? 0 : 1;
    m_setups = 0;
    for (const auto& file : qAsConst(m_setupFiles))
        m_setups += m_notStored.contains(file.first) ? 0 : 1;
}

QString ZunConfigFolder::report() const
{
    QString text;
    if (!m_notStored.isEmpty()) {
        text = QStringLiteral("Configuration loaded from %1 only in part: %2, %3. The processor did "
                              "not store:\n%4")
                   .arg(QDir::toNativeSeparators(m_folder), firSets(m_sets), ZunCount::setups(m_setups),
                        m_notStored.join(QLatin1Char('\n')));
    } else if (!m_refused.isEmpty()) {
        text = QStringLiteral("Nothing was loaded from %1. These files can not be loaded:\n%2")
                   .arg(QDir::toNativeSeparators(m_folder), m_refused.join(QLatin1Char('\n')));
    } else if (m_sets == 0 && m_setups == 0) {
        text = QStringLiteral("Nothing was loaded from %1: it holds no FIR set and no setup to load.")
                   .arg(QDir::toNativeSeparators(m_folder));
    } else {
        text = QStringLiteral("Configuration loaded from %1: %2, %3.")
                   .arg(QDir::toNativeSeparators(m_folder), firSets(m_sets), ZunCount::setups(m_setups));
    }
    if (!m_tidied.isEmpty())
        text += QStringLiteral("\nAnother program used the processor meanwhile:\n") + m_tidied.join(QLatin1Char('\n'));
    if (!m_leftAlone.isEmpty())
        text += QStringLiteral("\nAnother program stored meanwhile too; written then and left as it is:\n")
              + m_leftAlone.join(QLatin1Char('\n'));
    if (!m_notStored.isEmpty() && !m_positions.isEmpty())
        text += QStringLiteral("\nThe setup positions hold:\n") + m_positions.join(QLatin1Char('\n'));
    if (!m_skipped.isEmpty())
        text += QStringLiteral("\nLeft out:\n") + m_skipped.join(QLatin1Char('\n'));
    if (m_refused.isEmpty() && !m_odd.isEmpty())
        text += QStringLiteral("\n") + warning();
    return text;
}

QString ZunConfigFolder::warning() const
{
    if (m_odd.isEmpty())
        return QString();
    return QStringLiteral("Loaded as they are, though they hold:\n") + m_odd.join(QLatin1Char('\n'));
}
