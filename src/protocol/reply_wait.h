#pragma once

#include <cstdint>

enum class WaitUntil {
    kCountNonZero,  // the handshake: any count but 0 ends the wait
    kReplyPresent,  // the transfer: only a count above 1 does
};

// What one poll lasts on the home platform, where each 1 ms pause takes a system timer tick of
// 15.625 ms. Devices were built against waits of that length, so no wait ends sooner anywhere.
constexpr int64_t kPollFloorMicroseconds = 15625;

// Polls the reply count in 1 ms pauses until the condition holds, or until polls pauses have been
// made and polls x 15.625 ms have passed on the monotonic clock since the wait began. Returns the
// count last seen; it is left in the slot.
int16_t waitForReplyCount(uint16_t polls, WaitUntil until);

// A reply holds at least F0 and its code byte.
inline bool isReply(int16_t count) {
    return count > 1;
}
