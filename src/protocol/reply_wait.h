#pragma once

#include <cstdint>

enum class WaitUntil {
    kCountNonZero,  // the handshake: any count but 0 ends the wait
    kReplyPresent,  // the transfer: only a count above 1 does
};

// Polls the reply count in 1 ms pauses, at most budget times, until the condition holds. Returns
// the count last seen; it is left in the slot.
int16_t waitForReplyCount(uint16_t budget, WaitUntil until);

// A reply holds at least F0 and its code byte.
inline bool isReply(int16_t count) {
    return count > 1;
}
