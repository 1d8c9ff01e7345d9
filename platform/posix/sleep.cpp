#include <time.h>

#include <cerrno>

#include "win_base.h"

// Sleeps at least the given time, resuming after signals as Windows' Sleep does.
void Sleep(DWORD dwMilliseconds) {
    timespec left{static_cast<time_t>(dwMilliseconds / 1000),
                  static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
