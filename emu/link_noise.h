#pragma once

// A noisy link between the device and the updater: System Exclusive messages that answer nothing
// (another program on the same port, a merger), and answers heard twice (a driver or stack that
// repeats a message). Counted by the messages the device receives, so a run replays exactly.
#include <cstdint>
#include <optional>
#include <vector>

namespace emu {

using Bytes = std::vector<uint8_t>;

constexpr int kEmptyStray = -1;  // F0 F7: no code byte at all

struct StrayMessage {
    long afterMessage;  // the device's Nth message, probes and chunks counted from 1
    int code;           // the one byte between F0 and F7, or kEmptyStray
    int delayMs;        // after that message reached the device
};

struct RepeatedReply {
    long message;  // the device's answer to its Nth message arrives a second time
    int delayMs;   // after the first
};

struct LinkNoise {
    std::vector<StrayMessage> strays;
    std::vector<RepeatedReply> repeats;
};

// Input that reaches the updater beside the device's own answers.
struct ExtraInput {
    int delayMs;  // from when the device received the message
    Bytes bytes;
};

// Counts the messages the device receives and says what else arrives after each.
class NoisyLink {
  public:
    explicit NoisyLink(LinkNoise noise = {}) : noise_(std::move(noise)) {}

    // After the device has received one more message and answered it (reply after replyDelayMs)
    // or not.
    std::vector<ExtraInput> afterMessage(const std::optional<Bytes>& reply, int replyDelayMs);

  private:
    LinkNoise noise_;
    long received_ = 0;
};

}  // namespace emu
