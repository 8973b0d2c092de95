#pragma once

#include <QString>

// The long operations of a processor, as the quit question and the busy tabs name them.
// Each ends only with its own completion or failure: an image reload or another
// operation's report leaves it running.
enum class ZunLongOperation {
    FirChoice,   // a FIR set activated on one or both DSPs
    FirUpload,   // a FIR set file stored in the flash
    SetupUpload, // a setup file stored in the flash
    SetupRecall, // a setup recalled on the processors of the network list, one after another
    Erase,       // the flash erased to factory state
    Restore,     // default settings restored
    ConfigLoad,  // a configuration folder loaded into the flash
    Firmware,    // a firmware update up to the processor's restart
    GarbageCollection, // backup, erase and restore, up to the collection's own end
    BackupRestore,     // a collection's backup put back by a connection
    Wizard,            // the configuration wizard's changes, up to the last one's answer
};

// The job as the operator is told about it ("Quitting now leaves %1 part-written").
inline QString zunLongOperationText(ZunLongOperation operation)
{
    switch (operation) {
    case ZunLongOperation::FirChoice: return QStringLiteral("the activation of a FIR set");
    case ZunLongOperation::FirUpload: return QStringLiteral("a FIR set upload");
    case ZunLongOperation::SetupUpload: return QStringLiteral("a setup upload");
    case ZunLongOperation::SetupRecall: return QStringLiteral("a setup recall");
    case ZunLongOperation::Erase: return QStringLiteral("the erase of the flash");
    case ZunLongOperation::Restore: return QStringLiteral("the restore of the default settings");
    case ZunLongOperation::ConfigLoad: return QStringLiteral("a configuration load");
    case ZunLongOperation::Firmware: return QStringLiteral("a firmware update");
    case ZunLongOperation::GarbageCollection: return QStringLiteral("a garbage collection");
    case ZunLongOperation::BackupRestore:
        return QStringLiteral("the restore of a garbage collection's backup");
    case ZunLongOperation::Wizard: return QStringLiteral("the configuration wizard's changes");
    }
    return QString();
}
