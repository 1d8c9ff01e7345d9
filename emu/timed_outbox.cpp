#include "emu/timed_outbox.h"

namespace emu {

TimedOutbox::TimedOutbox(Send send) : send_(std::move(send)), thread_([this] { run(); }) {}

TimedOutbox::~TimedOutbox() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TimedOutbox::post(std::vector<uint8_t> bytes, std::chrono::milliseconds delay) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        due_.emplace(std::chrono::steady_clock::now() + delay, std::move(bytes));
    }
    wake_.notify_all();
}

void TimedOutbox::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (due_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto next = due_.begin();
        if (std::chrono::steady_clock::now() < next->first) {
            wake_.wait_until(lock, next->first);
            continue;
        }
        const std::vector<uint8_t> bytes = std::move(next->second);
        due_.erase(next);
        lock.unlock();
        send_(bytes);
        lock.lock();
    }
}

}  // namespace emu
