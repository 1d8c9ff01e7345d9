// The monotonic clock the reply waits are measured on, from the page's clock (performance.now), in
// nanoseconds.
#include "platform/web/page_clock.h"
#include "platform/win_base.h"

namespace {

constexpr double kNanosecondsPerMillisecond = 1000000.0;
constexpr LONGLONG kNanosecondsPerSecond = 1000000000LL;

}  // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    lpPerformanceCount->QuadPart =
        static_cast<LONGLONG>(pageNowMilliseconds() * kNanosecondsPerMillisecond);
    return 1;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    lpFrequency->QuadPart = kNanosecondsPerSecond;
    return 1;
}
