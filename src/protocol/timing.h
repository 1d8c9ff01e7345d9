#pragma once

// The updater's timing, every rule in one place: the pauses it takes, how long it polls for an
// answer, how often it tries. The MIDI room keeps the send pauses of these rules too. Each figure
// derived from them is worked out here, so that the docs and the checks cite its name.
#include <cstdint>

#include "platform/win_base.h"

// Every poll for an answer is a 1 ms pause; so is the pause after each hex chunk sent.
constexpr DWORD kPollPauseMs = 1;
constexpr DWORD kChunkPauseMs = 1;

// What one poll lasts on the home platform, where each 1 ms pause takes a system timer tick of
// 15.625 ms. Devices were built against waits of that length, so no wait ends sooner anywhere.
constexpr int64_t kPollFloorMicroseconds = 15625;

// The handshake: 19 attempts (the counter runs 19 down to 1), probe A on odd ones and B on even
// ones, each followed by a wait of 100 polls for the device's first answer.
constexpr uint16_t kHandshakeCounterStart = 20;
constexpr uint16_t kHandshakeAttempts = kHandshakeCounterStart - 1;
constexpr uint16_t kHandshakePollsPerAttempt = 100;
constexpr int64_t kHandshakeAttemptMicroseconds =
    kHandshakePollsPerAttempt * kPollFloorMicroseconds;
static_assert(kHandshakeAttempts == 19, "probe A ten times, probe B nine times");
static_assert(kHandshakeAttemptMicroseconds == 1562500, "an attempt waits 1.5625 s at least");

// The latest a device answers a probe or a record attempt, counted from when the message went
// out: twice the longest window it was ever given (200 polls). Until then an answer may still
// come, so the message is owed one and nothing else may be taken for it.
constexpr uint16_t kLatestAnswerPolls = 400;
constexpr int64_t kLatestAnswerMicroseconds = kLatestAnswerPolls * kPollFloorMicroseconds;
static_assert(kLatestAnswerMicroseconds == 6250000, "the latest answer time is 6.25 s");

// What the updater listens past that, so that an answer sent at the device's latest answer time
// still counts on a loaded host, whose MIDI service may hand it over late.
constexpr uint16_t kAnswerMarginPolls = 16;
constexpr uint16_t kListenPolls = kLatestAnswerPolls + kAnswerMarginPolls;
constexpr int64_t kAnswerMarginMicroseconds = kAnswerMarginPolls * kPollFloorMicroseconds;
constexpr int64_t kListenMicroseconds = kListenPolls * kPollFloorMicroseconds;
static_assert(kAnswerMarginMicroseconds == 250000, "the margin is 250 ms");
static_assert(kListenMicroseconds == 6500000, "a listen after a message lasts 6.5 s");

// A record the device refuses is sent again, 20 times in all before the update stops.
constexpr uint8_t kMaxAttemptsPerRecord = 20;

// A message the driver is still playing is looked at again every 100 ms; a driver still playing
// one short message after 5 s is stuck, not slow.
constexpr DWORD kStillPlayingStepMs = 100;
constexpr int kMaxStillPlayingWaits = 50;
constexpr DWORD kStillPlayingBoundMs = kStillPlayingStepMs * kMaxStillPlayingWaits;
static_assert(kStillPlayingBoundMs == 5000, "a message may play for 5 s at most");
