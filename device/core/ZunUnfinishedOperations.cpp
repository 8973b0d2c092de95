#include "ZunUnfinishedOperations.h"

#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "ZunConfigFolder.h"
#include "ZunSetup.h"

#include <QDir>
#include <QFileInfo>

namespace {
QString gain(double dB) { return QString::number(dB, 'f', 1); }
QString hex(quint32 id) { return QStringLiteral("%1").arg(id, 8, 16, QLatin1Char('0')); }
} // namespace

QString ZunUnfinishedOperations::text(CZun* zun, const QList<ZunOperationJournal::Entry>& entries)
{
    if (entries.isEmpty())
        return QString();
    QStringList lines;
    for (const ZunOperationJournal::Entry& e : entries)
        lines << QStringLiteral("- %1\n  %2").arg(ZunOperationJournal::describe(e), left(zun, e));
    return QStringLiteral("These operations on Zun nr %1 did not reach their end:\n\n%2\n\nThe processor's keep-alive, "
                          "off while some of them ran, is on again with this connection.")
        .arg(zun->GetNr())
        .arg(lines.join(QLatin1Char('\n')));
}

QString ZunUnfinishedOperations::left(CZun* zun, const ZunOperationJournal::Entry& e)
{
    const CMemoryManager* mem = zun->GetMemoryManager();
    const QString flash = QStringLiteral("The flash holds %1 FIR/limiter sets and %2 setups.")
                              .arg(mem->filterCount())
                              .arg(mem->setupCount());
    switch (e.kind) {
    case ZunLongOperation::Wizard: {
        // Its Finish lowers the masters before anything else; the defaults, when it got to
        // them, unmuted every output under the lowered masters.
        QString masters = QStringLiteral("DSP 1's master gain is %1 dB").arg(gain(zun->GetMasterGain(1)));
        if (zun->GetHardwareInfo().isDoubleBoard())
            masters += QStringLiteral(", DSP 2's %1 dB").arg(gain(zun->GetMasterGain(2)));
        if (e.detail.contains(QStringLiteral("defaults")))
            return QStringLiteral("Its Finish lowers the master gains to -40 dB (a lower one stays), then brings back "
                                  "the default settings, which unmute every output, with the master gains lowered "
                                  "again, then changes the clock, the routing and the FIR sets: %1. Check the mutes, "
                                  "the routing and the FIR sets, run the wizard again, and set the master gains.")
                .arg(masters);
        return QStringLiteral("Its Finish lowers the master gains to -40 dB (a lower one stays), then changes the "
                              "clock, the routing and the FIR sets: %1. Check the routing and the FIR sets, run the "
                              "wizard again, and set the master gains.")
            .arg(masters);
    }
    case ZunLongOperation::ConfigLoad:
        return loadLeft(zun, e.detail.value(QStringLiteral("folder")).toString());
    case ZunLongOperation::FirUpload: {
        const quint32 id = e.detail.value(QStringLiteral("set")).toUInt();
        if (id == 0)
            return flash;
        return mem->hasFilterId(id) ? QStringLiteral("The processor holds its set %1.").arg(hex(id))
                                    : QStringLiteral("The processor does not hold its set %1: upload it again.").arg(hex(id));
    }
    case ZunLongOperation::SetupUpload:
    case ZunLongOperation::SetupRecall:
        return QStringLiteral("It runs setup %1 now. Check the setups.").arg(zun->GetActiveSetup());
    case ZunLongOperation::FirChoice: {
        // Words that name no stored set (an activation cut between them, whose set could not
        // be told) are no set that runs.
        auto set = [&](quint16 dsp) {
            const quint32 id = zun->GetActiveFilterIndex(dsp);
            return id == 0 || mem->hasFilterId(id)
                       ? hex(id)
                       : QStringLiteral("named %1, which the flash does not hold").arg(hex(id));
        };
        if (!zun->GetHardwareInfo().isDoubleBoard())
            return QStringLiteral("The DSP runs the set %1.").arg(set(1));
        return QStringLiteral("The DSPs run the sets %1 and %2.").arg(set(1), set(2));
    }
    case ZunLongOperation::Firmware: {
        // Its first step erases the firmware area; each piece copied after is on record.
        const int pieces = e.detail.value(QStringLiteral("pieces")).toInt();
        const int written = e.detail.value(QStringLiteral("written")).toInt();
        const QString version = QString::number(zun->GetFirmwareVersion());
        if (written > 0 && written < pieces)
            return QStringLiteral("It had erased the processor's firmware area and written %1 of its %2 pieces: the "
                                  "firmware area was left part-written. The processor runs firmware %3 until it is "
                                  "switched off, and may not start again after that. Run the firmware update again "
                                  "before the processor is switched off.")
                .arg(written)
                .arg(pieces)
                .arg(version);
        if (written > 0)
            return QStringLiteral("Every piece of the new firmware had been written; the processor runs firmware %1. If "
                                  "that is the old version, run the firmware update again before the processor is "
                                  "switched off.")
                .arg(version);
        return QStringLiteral("It runs firmware %1. The update may have erased the processor's firmware area before "
                              "its first piece was written: run the firmware update again before the processor is "
                              "switched off.")
            .arg(version);
    }
    case ZunLongOperation::Erase:
        // The connection ends it as an erase ends (the sets are seen to before this is told).
        if (mem->filterCount() == 0 && mem->setupCount() == 0)
            return QStringLiteral("The flash was erased. This connection finishes it at factory state: the "
                                  "pass-through FIR/limiter set is stored and run by both DSPs.");
        return flash;
    default:
        return flash;
    }
}

QString ZunUnfinishedOperations::loadLeft(CZun* zun, const QString& folder)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return QStringLiteral("Its folder is gone: check what the processor holds.");
    const CMemoryManager* mem = zun->GetMemoryManager();
    int sets = 0, setsBack = 0, setups = 0, setupsBack = 0;
    for (const QString& f : dir.entryList({QStringLiteral("*.fir")}, QDir::Files, QDir::Name)) {
        quint32 id = 0;
        if (!ZunConfigFolder::setRefusal(zun, dir.filePath(f), &id).isEmpty())
            continue;
        ++sets;
        setsBack += mem->hasFilterId(id) ? 1 : 0;
    }
    for (const QString& f : dir.entryList({QStringLiteral("Set*.zun")}, QDir::Files, QDir::Name)) {
        const int position = ZunSetup::numberFromFileName(QFileInfo(f).completeBaseName());
        quint32 id = 0;
        QStringList odd;
        if (!ZunConfigFolder::setupRefusal(zun, dir.filePath(f), position, &id, &odd).isEmpty())
            continue;
        ++setups;
        setupsBack += mem->setupIdAt(position) == id ? 1 : 0;
    }
    return QStringLiteral("The processor holds %1 of its %2 FIR/limiter sets and %3 of its %4 setups; load the folder "
                          "again for the rest.")
        .arg(setsBack)
        .arg(sets)
        .arg(setupsBack)
        .arg(setups);
}
