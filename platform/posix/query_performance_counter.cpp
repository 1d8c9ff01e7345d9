// The monotonic clock the reply waits are measured on, in nanoseconds.
#include <time.h>

#include "platform/posix/time_source.h"
#include "platform/win_base.h"

namespace {

constexpr LONGLONG kNanosecondsPerSecond = 1000000000LL;

}  // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    if (const TimeSource* source = currentTimeSource()) {
        lpPerformanceCount->QuadPart = source->nowNanoseconds();
        return 1;
    }
    timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    lpPerformanceCount->QuadPart =
        static_cast<LONGLONG>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
    return 1;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    lpFrequency->QuadPart = kNanosecondsPerSecond;
    return 1;
}
