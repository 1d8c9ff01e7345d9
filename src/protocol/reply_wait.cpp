#include "protocol/reply_wait.h"

#include "midi/midi_in.h"

namespace {

constexpr DWORD kPollPauseMs = 1;

bool waitIsOver(int16_t count, WaitUntil until) {
    return until == WaitUntil::kCountNonZero ? count != 0 : isReply(count);
}

}  // namespace

int16_t waitForReplyCount(uint16_t budget, WaitUntil until) {
    int16_t count = replyCountNow();
    while (!waitIsOver(count, until) && budget > 0) {
        Sleep(kPollPauseMs);
        --budget;
        count = replyCountNow();
    }
    return count;
}
