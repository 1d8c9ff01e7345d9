#pragma once

// Messages sent at their due times on a thread of their own: for a device on real ports, whose
// noise (messages that answer nothing, answers heard twice) must not hold up its input.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace emu {

class TimedOutbox {
  public:
    using Send = std::function<void(const std::vector<uint8_t>&)>;

    explicit TimedOutbox(Send send);
    // Stops the thread; what is not yet due is dropped.
    ~TimedOutbox();
    TimedOutbox(const TimedOutbox&) = delete;
    TimedOutbox& operator=(const TimedOutbox&) = delete;

    void post(std::vector<uint8_t> bytes, std::chrono::milliseconds delay);

  private:
    void run();

    Send send_;
    std::mutex mutex_;
    std::condition_variable wake_;
    // Due time, then the order of posting: two messages due at once leave in the order given.
    std::multimap<std::chrono::steady_clock::time_point, std::vector<uint8_t>> due_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace emu
