#pragma once

// The jobs of the advanced tab whose end the device model reports later. Each ends only
// with its own completion or failure: an image reload or another job's report leaves it
// running.
enum class ZunLongOperation {
    FirChoice,   // a FIR set activated on one or both DSPs
    FirUpload,   // a FIR set file stored in the flash
    SetupUpload, // a setup file stored in the flash
    Erase,       // the flash erased to factory state
    Restore,     // default settings restored
    ConfigLoad,  // a configuration folder loaded into the flash
    Firmware,    // a firmware update up to the processor's restart
    GarbageCollection, // backup, erase and restore, up to the collection's own end
};
