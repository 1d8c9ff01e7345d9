#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

#include "platform/posix/time_source.h"
#include "platform/win_base.h"

namespace {

// Linux lets a sleep run up to 50 us late by default so that wake-ups can be batched: 5% on
// every 1 ms pause, which the updater takes thousands of. Asked once per thread.
constexpr unsigned long kTimerSlackNs = 1;
thread_local bool slackSet = false;

}  // namespace

// Sleeps at least the given time, resuming after signals as Windows' Sleep does.
void Sleep(DWORD dwMilliseconds) {
    if (const TimeSource* source = currentTimeSource()) {
        source->sleep(dwMilliseconds);
        return;
    }
    if (!slackSet) {
        // Without it the pauses are only a little longer: the result does not matter.
        prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
        slackSet = true;
    }
    timespec left{static_cast<time_t>(dwMilliseconds / 1000),
                  static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
