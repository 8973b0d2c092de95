#pragma once

// Registers every type that a queued connection of the routing presets, the routing
// library and the audio status carries. Call it before the first such connection;
// calling it again does no harm.
void registerRoutingMetaTypes();
