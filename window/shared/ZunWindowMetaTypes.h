#pragma once

// Registers every type that the control window's queued connections carry: the device
// library's (registerZunMetaTypes) and those only the window's pages pass on (exceptions,
// model indexes, text cursors of the log, audio-status pointers, EQ and filter records).
// Calling it again does no harm.
void registerWindowMetaTypes();
