#pragma once

#include <cstdint>

#include "platform/win_base.h"
#include "protocol/timing.h"

// No count of replies reaches it: a listen for it runs its whole course.
constexpr uint32_t kEveryReply = 0xFFFFFFFFu;

// A moment on the monotonic clock, to measure a wait's floor from; known is false where the clock
// could not be read, which leaves the wait's polls as its only bound.
struct ClockMark {
    LONGLONG counts;
    bool known;
};
ClockMark clockNow();

// Polls the reply count in 1 ms pauses until it is not 0, or until polls pauses have been
// made and polls x 15.625 ms have passed on the monotonic clock since the wait began. Returns the
// count last seen; it is left in the slot.
int16_t waitForReplyCount(uint16_t polls);

// A listen for replies after a message went out: it runs until it has made its polls and its
// floor of floorPolls x 15.625 ms has passed since the message went out. One listen can be taken
// up again after it has stopped early for a reply, and goes on to the same end.
struct Listen {
    uint16_t pollsLeft;
    ClockMark since;
    LONGLONG floor;  // in clock counts
};
Listen startListen(ClockMark since, uint16_t polls, uint16_t floorPolls);

// Polls the reply tally in 1 ms pauses until at least wanted replies have come after the tally's
// count stood at base, or until the listen has run its course. Returns how many replies have come
// after base.
uint32_t listenForReplies(Listen& listen, uint32_t base, uint32_t wanted);

// A reply holds at least F0 and its code byte.
inline bool isReply(int16_t count) {
    return count > 1;
}
