// Sending on a raw MIDI port against a port whose buffer empties onto a cable of a given speed:
// a send ends when the last byte has left, not when the port took it, and never waits without end.
#include "platform/alsa/play_out.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kEndless = std::numeric_limits<uint64_t>::max();

// A port with a buffer in front of a cable; time is the test's own.
struct FakePort {
    uint64_t bytesPerSecond = 0;  // 0: the bytes leave as soon as they are written
    size_t bufferBytes = 4096;
    uint64_t farEndTakes = kEndless;  // bytes the cable takes before it stops
    long writeError = 0;
    uint64_t goneAtMicroseconds = kEndless;

    uint64_t now = 0;
    std::vector<uint8_t> written;

    // Bytes on the cable by now: written ones, at the cable's speed from the first on.
    size_t left() const {
        uint64_t out = written.size();
        if (bytesPerSecond != 0) out = std::min<uint64_t>(out, now * bytesPerSecond / 1000000);
        return static_cast<size_t>(std::min(out, farEndTakes));
    }

    alsa::RawOutput output() {
        alsa::RawOutput port;
        port.write = [this](const uint8_t* bytes, size_t count) -> long {
            if (writeError != 0) return writeError;
            const size_t room = bufferBytes - (written.size() - left());
            const size_t taken = std::min(room, count);
            written.insert(written.end(), bytes, bytes + taken);
            return static_cast<long>(taken);
        };
        port.waiting = [this]() -> long {
            if (now >= goneAtMicroseconds) return -ENODEV;
            return static_cast<long>(written.size() - left());
        };
        port.waitForEmpty = [this](long, uint64_t timeout) {
            uint64_t emptyAt = now;
            if (written.size() > farEndTakes) {
                emptyAt = kEndless;
            } else if (bytesPerSecond != 0) {
                emptyAt = (written.size() * 1000000 + bytesPerSecond - 1) / bytesPerSecond;
            }
            now = std::min({std::max(emptyAt, now), now + timeout, goneAtMicroseconds});
        };
        port.nowMicroseconds = [this] { return now; };
        return port;
    }
};

struct PlayOutCase {
    const char* name;
    size_t bytes;
    uint64_t bytesPerSecond;
    uint64_t farEndTakes;
    long writeError;
    uint64_t goneAtMicroseconds;
    int result;
    uint64_t returnsAtMicroseconds;
    size_t bytesOnCable;
};

constexpr uint64_t kDin = alsa::kCableBytesPerSecond;
const uint64_t kChunkAllowance = alsa::playOutAllowanceMicroseconds(48);

class PlayOut : public ::testing::TestWithParam<PlayOutCase> {};

TEST_P(PlayOut, EndsWhenTheMessageHasLeftOrTheAllowanceIsOver) {
    const PlayOutCase& c = GetParam();
    FakePort port;
    port.bytesPerSecond = c.bytesPerSecond;
    port.farEndTakes = c.farEndTakes;
    port.writeError = c.writeError;
    port.goneAtMicroseconds = c.goneAtMicroseconds;
    std::vector<uint8_t> message(c.bytes);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 7);

    EXPECT_EQ(alsa::playOut(port.output(), message.data(), message.size()), c.result);
    EXPECT_EQ(port.now, c.returnsAtMicroseconds);
    const std::vector<uint8_t> onCable(port.written.begin(), port.written.begin() + port.left());
    EXPECT_EQ(onCable, std::vector<uint8_t>(message.begin(), message.begin() + c.bytesOnCable));
}

std::string caseName(const ::testing::TestParamInfo<PlayOutCase>& param) {
    return param.param.name;
}

// The port's buffer holds 4,096 bytes. 48 bytes at 3,125 a second are 15.36 ms on the cable.
INSTANTIATE_TEST_SUITE_P(
    RawMidi, PlayOut,
    ::testing::Values(
        PlayOutCase{"fast_interface", 48, 0, kEndless, 0, kEndless, 0, 0, 48},
        PlayOutCase{"din_cable", 48, kDin, kEndless, 0, kEndless, 0, 15360, 48},
        PlayOutCase{"longer_than_the_buffer", 5000, kDin, kEndless, 0, kEndless, 0, 1600000, 5000},
        PlayOutCase{"far_end_stops", 48, kDin, 20, 0, kEndless, -ETIMEDOUT, kChunkAllowance, 20},
        PlayOutCase{"port_gone", 48, kDin, kEndless, -ENODEV, kEndless, -ENODEV, 0, 0},
        PlayOutCase{"unplugged_while_playing", 48, kDin, kEndless, 0, 5000, -ENODEV, 5000, 15}),
    caseName);

}  // namespace
