#pragma once

// Waits ms milliseconds while keeping the calling thread's event queue moving (posted
// events are delivered and processed in steps of at most 5 ms, with a sleep of the step
// in between). Makes at least one pass; a negative time counts as 0. Returns the elapsed
// milliseconds.
int ZunWaitMs(int ms);
