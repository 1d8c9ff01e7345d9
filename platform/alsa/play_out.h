// Sending on a raw MIDI port: the message is written, then waited for until the port's buffer is
// empty, so that when the send returns it has left for the cable, at whatever speed the cable
// runs. A port that never empties (an interface that stopped taking bytes) fails the send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace alsa {

// A MIDI cable runs at 31,250 baud, ten bits to a byte.
constexpr uint64_t kCableBytesPerSecond = 3125;
// On top of the message's time on the cable: an interface may still be playing the end of the
// message before, and a USB one takes bytes only once a frame.
constexpr uint64_t kPlayOutMarginMicroseconds = 1000000;

// The longest sending count bytes may take before the port counts as stuck.
uint64_t playOutAllowanceMicroseconds(size_t count);

// What playOut needs of an open raw MIDI output.
struct RawOutput {
    // Writes what fits of the bytes: how many were taken (0 when the buffer is full), or a
    // negative error code.
    std::function<long(const uint8_t* bytes, size_t count)> write;
    // How many bytes still wait in the port's buffer, or a negative error code.
    std::function<long()> waiting;
    // Waits at most timeoutMicroseconds for the buffer, which still holds waiting bytes, to
    // empty; may return sooner.
    std::function<void(long waiting, uint64_t timeoutMicroseconds)> waitForEmpty;
    // A monotonic clock.
    std::function<uint64_t()> nowMicroseconds;
};

// Writes the count bytes and waits until all of them have left the buffer: 0, -ETIMEDOUT when
// that takes longer than the allowance, or the port's own negative error code.
int playOut(const RawOutput& port, const uint8_t* bytes, size_t count);

}  // namespace alsa
