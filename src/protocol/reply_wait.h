#pragma once

#include <cstdint>

#include "platform/win_base.h"

// What one poll lasts on the home platform, where each 1 ms pause takes a system timer tick of
// 15.625 ms. Devices were built against waits of that length, so no wait ends sooner anywhere.
constexpr int64_t kPollFloorMicroseconds = 15625;

// The latest a device answers a probe or a record attempt, counted from when the message went
// out: twice the longest window it was ever given (200 polls), 6.25 s. Until then an answer may
// still come, so the message is owed one and nothing else may be taken for it.
constexpr uint16_t kLatestAnswerPolls = 400;

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

// Polls the reply tally in 1 ms pauses until at least wanted replies have come after the tally's
// count stood at base, or until polls pauses have been made and floorPolls x 15.625 ms have passed
// since the moment given. Returns how many replies have come after base.
uint32_t waitForReplies(uint32_t base, uint32_t wanted, uint16_t polls, ClockMark since,
                        uint16_t floorPolls);

// A reply holds at least F0 and its code byte.
inline bool isReply(int16_t count) {
    return count > 1;
}
