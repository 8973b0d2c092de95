// The emulator process helper of the protocol tests, shared with the device tests.
#include "../../protocol/support/TcpSimProcess.cpp"
