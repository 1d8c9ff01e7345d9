// Where Sleep and QueryPerformanceCounter take their time from. The product always runs on the
// system's monotonic clock; the emulated MIDI service can put both on a virtual clock of its own,
// so that runs with the protocol's long reply waits take no real time in tests.
#pragma once

#include <cstdint>

#include "platform/win_base.h"

struct TimeSource {
    void (*sleep)(DWORD milliseconds);  // returns once the clock has moved on by that much
    int64_t (*nowNanoseconds)();        // never goes back
};

// nullptr: the system's clock again.
void setTimeSource(const TimeSource* source);
const TimeSource* currentTimeSource();
