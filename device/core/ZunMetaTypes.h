#pragma once

// Registers every type that a queued connection of the device library carries (and the
// protocol library's). Call it before the first such connection; calling it again does
// no harm. The device object calls it itself.
void registerZunMetaTypes();
