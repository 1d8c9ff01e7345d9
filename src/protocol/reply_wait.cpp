#include "protocol/reply_wait.h"

#include "midi/midi_in.h"

namespace {

constexpr DWORD kPollPauseMs = 1;
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

// Where a wait stands: the polls it has still to make, and the floor it has still to reach.
struct WaitBound {
    uint16_t pollsLeft;
    ClockMark since;
    LONGLONG floor;
};

WaitBound boundOf(uint16_t polls, ClockMark since, uint16_t floorPolls) {
    return WaitBound{polls, since, since.known ? floorCounts(floorPolls) : 0};
}

// A clock that cannot be read leaves the poll count as the only bound: never a wait without end.
bool floorReached(const WaitBound& bound) {
    if (!bound.since.known) {
        return true;
    }
    const ClockMark now = clockNow();
    return !now.known || now.counts - bound.since.counts >= bound.floor;
}

// One pause of the wait, if it has any left; false once it has run its course.
bool pollAgain(WaitBound& bound) {
    if (bound.pollsLeft == 0 && floorReached(bound)) {
        return false;
    }
    Sleep(kPollPauseMs);
    if (bound.pollsLeft > 0) {
        --bound.pollsLeft;
    }
    return true;
}

}  // namespace

ClockMark clockNow() {
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now)) {
        return ClockMark{0, false};
    }
    return ClockMark{now.QuadPart, true};
}

int16_t waitForReplyCount(uint16_t polls) {
    WaitBound bound = boundOf(polls, clockNow(), polls);
    int16_t count = replyCountNow();
    while (count == 0 && pollAgain(bound)) {
        count = replyCountNow();
    }
    return count;
}

uint32_t waitForReplies(uint32_t base, uint32_t wanted, uint16_t polls, ClockMark since,
                        uint16_t floorPolls) {
    WaitBound bound = boundOf(polls, since, floorPolls);
    uint32_t received = repliesBetween(base, replyTallyNow().received);
    while (received < wanted && pollAgain(bound)) {
        received = repliesBetween(base, replyTallyNow().received);
    }
    return received;
}
