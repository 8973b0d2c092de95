#include "ZunConfigFolder.h"

#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "FilterLimiterEWS.h"
#include "ZunSetup.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSettings>

namespace
{
// The sample rate the FIR/limiter manager reads FIR files with.
constexpr double FileSampleRate = 48000.0;

QString reasonOf(const std::exception& e)
{
    QString text = QString::fromStdString(e.what());
    if (const auto* fir = dynamic_cast<const CBlockFIR::invalid_filter*>(&e))
        if (!fir->detail().empty())
            text += QStringLiteral(" ") + QString::fromStdString(fir->detail());
    return text;
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

    QSet<quint32> sets;
    QStringList firFilters{QStringLiteral("*.fir")};
    if (xml)
        firFilters << QStringLiteral("*.xml");
    for (const QFileInfo& fi : dir.entryInfoList(firFilters, QDir::Files, QDir::Name)) {
        try {
            const FilterLimiterEWS set(fi.absoluteFilePath(), FileSampleRate);
            const quint32 id = set.getKey();
            if (memory->hasFilterId(id) || device->GetFIRLimManager()->GetFIRFilter(id))
                m_skipped << QStringLiteral("%1: the FIR set %2 is stored in the processor already")
                                 .arg(fi.fileName(), set.GetName());
            else if (!sets.contains(id))
                sets.insert(id);
        } catch (const std::exception& e) {
            m_refused << QStringLiteral("%1: %2").arg(fi.fileName(), reasonOf(e));
        }
    }
    m_sets = sets.size();

    const int positions = memory->setupListSize();
    QSet<int> taken;
    int outside = 0;
    for (const QFileInfo& fi : dir.entryInfoList({QStringLiteral("*.zun")}, QDir::Files, QDir::Name)) {
        const int position = ZunSetup::numberFromFileName(fi.completeBaseName());
        // The setup manager takes "Set<position>..." files only.
        if (!fi.fileName().startsWith(QStringLiteral("Set"), Qt::CaseInsensitive) || position < 0) {
            m_skipped << QStringLiteral("%1: the name gives no setup position (\"SetNN_name.zun\")").arg(fi.fileName());
            continue;
        }
        if (position >= positions) {
            // Left out, but counted against the room in the flash as the load counts it.
            m_skipped << QStringLiteral("%1: the processor has no setup position %2").arg(fi.fileName()).arg(position);
            ++outside;
            continue;
        }
        try {
            // Read without a device: the FIR sets inside are not handed on yet.
            const ZunSetup setup(nullptr, fi.absoluteFilePath());
            const QString bad = setup.outOfRange(device->GetFirmwareVersion());
            if (!bad.isEmpty()) {
                m_refused << QStringLiteral("%1: %2").arg(fi.fileName(), bad);
                continue;
            }
        } catch (const std::exception& e) {
            m_refused << QStringLiteral("%1: %2").arg(fi.fileName(), reasonOf(e));
            continue;
        }
        if (taken.contains(position)) {
            m_refused << QStringLiteral("%1: a second setup for position %2").arg(fi.fileName()).arg(position);
            continue;
        }
        taken.insert(position);
    }
    m_setups = taken.size();
    if (m_refused.isEmpty() && memory->freeEntries() < m_sets + m_setups + outside)
        m_refused << QStringLiteral("%1 FIR sets and %2 setups need more room than the flash of the processor has left")
                         .arg(m_sets)
                         .arg(m_setups);
}

QString ZunConfigFolder::report() const
{
    QString text;
    if (!m_refused.isEmpty()) {
        text = QStringLiteral("Nothing was loaded from %1. These files can not be loaded:\n%2")
                   .arg(QDir::toNativeSeparators(m_folder), m_refused.join(QLatin1Char('\n')));
    } else if (m_sets == 0 && m_setups == 0) {
        text = QStringLiteral("Nothing was loaded from %1: it holds no FIR set and no setup to load.")
                   .arg(QDir::toNativeSeparators(m_folder));
    } else {
        text = QStringLiteral("Configuration loaded from %1: %2 FIR sets, %3 setups.")
                   .arg(QDir::toNativeSeparators(m_folder))
                   .arg(m_sets)
                   .arg(m_setups);
    }
    if (!m_skipped.isEmpty())
        text += QStringLiteral("\nLeft out:\n") + m_skipped.join(QLatin1Char('\n'));
    return text;
}
