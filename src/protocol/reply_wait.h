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

// What the updater listens past that: 16 polls, 250 ms, so that an answer sent at the device's
// latest answer time still counts on a loaded host, whose MIDI service may hand it over late. A
// listen after a message lasts 6.5 s.
constexpr uint16_t kAnswerMarginPolls = 16;
constexpr uint16_t kListenPolls = kLatestAnswerPolls + kAnswerMarginPolls;

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
