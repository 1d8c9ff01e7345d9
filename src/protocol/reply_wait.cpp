#include "protocol/reply_wait.h"

#include "midi/midi_in.h"

namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;

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
bool floorReached(const Listen& listen) {
    if (!listen.since.known) {
        return true;
    }
    const ClockMark now = clockNow();
    return !now.known || now.counts - listen.since.counts >= listen.floor;
}

// One pause of the wait, if it has any left; false once it has run its course.
bool pollAgain(Listen& listen) {
    if (listen.pollsLeft == 0 && floorReached(listen)) {
        return false;
    }
    Sleep(kPollPauseMs);
    if (listen.pollsLeft > 0) {
        --listen.pollsLeft;
    }
    return true;
}

}  // namespace

Listen startListen(ClockMark since, uint16_t polls, uint16_t floorPolls) {
    return Listen{polls, since, since.known ? floorCounts(floorPolls) : 0};
}

ClockMark clockNow() {
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now)) {
        return ClockMark{0, false};
    }
    return ClockMark{now.QuadPart, true};
}

int16_t waitForReplyCount(uint16_t polls) {
    Listen listen = startListen(clockNow(), polls, polls);
    int16_t count = replyCountNow();
    while (count == 0 && pollAgain(listen)) {
        count = replyCountNow();
    }
    return count;
}

uint32_t listenForReplies(Listen& listen, uint32_t base, uint32_t wanted) {
    uint32_t received = repliesBetween(base, replyTallyNow().received);
    while (received < wanted && pollAgain(listen)) {
        received = repliesBetween(base, replyTallyNow().received);
    }
    return received;
}
