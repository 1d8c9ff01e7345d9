#include "protocol/reply_wait.h"

#include "midi/midi_in.h"
#include "win_base.h"

namespace {

constexpr DWORD kPollPauseMs = 1;
constexpr int64_t kMicrosecondsPerSecond = 1000000;

bool waitIsOver(int16_t count, WaitUntil until) {
    return until == WaitUntil::kCountNonZero ? count != 0 : isReply(count);
}

// The floor in clock counts. Worked out at each wait, not once: cheap, and no state outlives a
// wait. At most 65,535 x 15,625 us at the clock's frequency: far inside 64 bits for any clock.
LONGLONG floorCounts(uint16_t polls) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
        return 0;
    }
    return (static_cast<LONGLONG>(polls) * kPollFloorMicroseconds * frequency.QuadPart +
            kMicrosecondsPerSecond - 1) /
           kMicrosecondsPerSecond;
}

// A clock that cannot be read leaves the poll count as the only bound: never a wait without end.
bool floorReached(const LARGE_INTEGER& started, LONGLONG floor) {
    LARGE_INTEGER now;
    return !QueryPerformanceCounter(&now) || now.QuadPart - started.QuadPart >= floor;
}

}  // namespace

int16_t waitForReplyCount(uint16_t polls, WaitUntil until) {
    LARGE_INTEGER started;
    const LONGLONG floor = QueryPerformanceCounter(&started) ? floorCounts(polls) : 0;
    uint16_t pollsLeft = polls;
    int16_t count = replyCountNow();
    while (!waitIsOver(count, until) && (pollsLeft > 0 || !floorReached(started, floor))) {
        Sleep(kPollPauseMs);
        if (pollsLeft > 0) {
            --pollsLeft;
        }
        count = replyCountNow();
    }
    return count;
}
