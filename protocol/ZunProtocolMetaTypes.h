#pragma once

// Registers every type that a queued connection of the protocol library carries. Call it
// before the first such connection; calling it again does no harm.
void registerProtocolMetaTypes();
