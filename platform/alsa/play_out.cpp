#include "platform/alsa/play_out.h"

#include <cerrno>

namespace alsa {

uint64_t playOutAllowanceMicroseconds(size_t count) {
    constexpr uint64_t kMicrosecondsPerSecond = 1000000;
    const uint64_t onCable =
        (static_cast<uint64_t>(count) * kMicrosecondsPerSecond + kCableBytesPerSecond - 1) /
        kCableBytesPerSecond;
    return onCable + kPlayOutMarginMicroseconds;
}

int playOut(const RawOutput& port, const uint8_t* bytes, size_t count) {
    const uint64_t deadline = port.nowMicroseconds() + playOutAllowanceMicroseconds(count);
    size_t written = 0;
    for (;;) {
        if (written < count) {
            const long taken = port.write(bytes + written, count - written);
            if (taken < 0 && taken != -EAGAIN) return static_cast<int>(taken);
            if (taken > 0) written += static_cast<size_t>(taken);
        }
        const long waiting = port.waiting();
        if (waiting < 0) return static_cast<int>(waiting);
        if (written == count && waiting == 0) return 0;
        const uint64_t now = port.nowMicroseconds();
        if (now >= deadline) return -ETIMEDOUT;
        port.waitForEmpty(waiting, deadline - now);
    }
}

}  // namespace alsa
