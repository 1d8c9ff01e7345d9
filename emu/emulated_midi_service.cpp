#include "emu/emulated_midi_service.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/winmm_face/port_system.h"
#include "platform/winmm_face/test_hooks.h"

#ifndef _WIN32
#include "platform/posix/time_source.h"
#endif

namespace emu {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCallbackDrainLimit = std::chrono::seconds(2);
// How long a virtual pause waits for the worker to deliver what has come due; only a callback
// that never returns would take this long.
constexpr auto kSettleLimit = std::chrono::seconds(10);

struct InDevice {
    InDeviceConfig config;
    bool open = false;
    winmm_face::MessageSink sink;
    std::map<UINT, unsigned> notices;
};

struct Playing {
    Clock::time_point end;
    Bytes bytes;
    winmm_face::SendDone done;  // empty when the send was done at once
    uint64_t send;              // its place in the order of sending
};

struct OutDevice {
    OutDeviceConfig config;
    bool open = false;
    long accepted = 0;
    Peer peer;
    std::deque<Playing> playing;  // in the order sent, so also in the order they end
    uint64_t sends = 0;
    uint64_t finished = 0;  // sends from the first on that have played out or were cut off
};

// How long count bytes take on a link of that speed, rounded up to the nanosecond: a message of
// 48 bytes at MIDI's 3,125 bytes a second takes 15.36 ms. No speed: no time.
Clock::duration linkTime(size_t count, long bytesPerSecond) {
    if (bytesPerSecond <= 0) return Clock::duration::zero();
    const int64_t perSecond = bytesPerSecond;
    const int64_t nanoseconds =
        (static_cast<int64_t>(count) * 1000000000 + perSecond - 1) / perSecond;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanoseconds));
}

// Queued by (due time, order of sending).
struct InputEvent {
    unsigned device;
    Bytes bytes;
    bool error;
};

class Service : public winmm_face::PortSystem, public winmm_face::CallObserver {
  public:
    Service() : worker_([this] { run(); }) { winmm_face::observeCalls(this); }
    ~Service() {
        winmm_face::observeCalls(nullptr);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }

    std::vector<winmm_face::PortInfo> inputPorts() override { return ports(in_); }
    std::vector<winmm_face::PortInfo> outputPorts() override { return ports(out_); }
    MMRESULT openInput(const winmm_face::PortInfo& port, winmm_face::MessageSink sink,
                       std::unique_ptr<winmm_face::InputPortLink>& link) override;
    MMRESULT openOutput(const winmm_face::PortInfo& port,
                        std::unique_ptr<winmm_face::OutputPortLink>& link) override;

    void called(const std::string& call) override {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(call);
    }
    void notified(unsigned port, UINT kind) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (port < in_.size()) ++in_[port].notices[kind];
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<InDevice> in_;
    std::vector<OutDevice> out_;
    std::multimap<std::pair<Clock::time_point, uint64_t>, InputEvent> events_;
    std::vector<SentMessage> sent_;
    std::vector<std::string> log_;
    uint64_t nextOrder_ = 0;
    uint64_t epoch_ = 0;       // moves on with every reset: links from before it are dead
    bool delivering_ = false;  // the worker is handing input to the face
    bool stopping_ = false;
    bool waiting_ = false;  // the worker is waiting for work
    bool virtual_ = false;  // time moves only when the program pauses
    Clock::time_point virtualNow_;
    std::thread::id workerId_;
    std::thread worker_;

    Clock::time_point now() const { return virtual_ ? virtualNow_ : Clock::now(); }
    // When the worker has next to hand on a message or deliver input; max() when never.
    Clock::time_point nextDue() const {
        auto next = Clock::time_point::max();
        if (!events_.empty()) next = events_.begin()->first.first;
        for (const OutDevice& d : out_) {
            if (!d.playing.empty()) next = std::min(next, d.playing.front().end);
        }
        return next;
    }
    // Nothing has come due that the worker has still to hand on or deliver.
    bool settled() const { return waiting_ && !delivering_ && nextDue() > now(); }

    // Moves the virtual clock on to target, handing on and delivering everything that comes due
    // on the way at its own time, before the clock passes it.
    void advanceVirtualClock(std::unique_lock<std::mutex>& lock, Clock::time_point target);
    // A blocking driver's send: returns once the message due to end at end has played out, or
    // the ports were laid out afresh; on virtual time the clock moves on meanwhile.
    void waitUntilPlayedOut(std::unique_lock<std::mutex>& lock, uint64_t epoch, unsigned device,
                            uint64_t send, Clock::time_point end);

    // Lets input under way on the worker reach the program before the caller changes the ports,
    // as the real service does not hand a buffer back twice.
    void waitForCallbacks(std::unique_lock<std::mutex>& lock) {
        if (std::this_thread::get_id() == workerId_) return;
        idle_.wait_for(lock, kCallbackDrainLimit, [this] { return !delivering_; });
    }

  private:
    template <typename Device>
    std::vector<winmm_face::PortInfo> ports(const std::vector<Device>& devices) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<winmm_face::PortInfo> listed;
        for (unsigned i = 0; i < devices.size(); ++i) listed.push_back({i, devices[i].config.name});
        return listed;
    }

    void run();
    // Hands the oldest message that has played out to its peer and returns true; otherwise
    // lowers next to the time the next one will have played out.
    bool handOnePlayedMessage(std::unique_lock<std::mutex>& lock, Clock::time_point now,
                              Clock::time_point& next);
    void deliver(std::unique_lock<std::mutex>& lock, const InputEvent& event);
};

Service& service() {
    static Service instance;
    return instance;
}

// An open emulated In port: the face's sink is kept with the device until the port is closed.
class InLink : public winmm_face::InputPortLink {
  public:
    InLink(uint64_t epoch, unsigned device) : epoch_(epoch), device_(device) {}
    ~InLink() override {
        Service& s = service();
        std::unique_lock<std::mutex> lock(s.mutex_);
        s.waitForCallbacks(lock);
        if (s.epoch_ != epoch_) return;
        s.in_[device_].open = false;
        s.in_[device_].sink = nullptr;
    }
    MMRESULT start() override {
        Service& s = service();
        std::lock_guard<std::mutex> lock(s.mutex_);
        return s.epoch_ == epoch_ ? s.in_[device_].config.startResult : MMSYSERR_NOERROR;
    }

  private:
    const uint64_t epoch_;
    const unsigned device_;
};

// An open emulated Out port: each message is recorded, plays for the device's play time and then
// goes to the peer.
class OutLink : public winmm_face::OutputPortLink {
  public:
    OutLink(uint64_t epoch, unsigned device) : epoch_(epoch), device_(device) {}
    ~OutLink() override {
        Service& s = service();
        std::lock_guard<std::mutex> lock(s.mutex_);
        if (s.epoch_ == epoch_) s.out_[device_].open = false;
    }

    MMRESULT send(const uint8_t* bytes, size_t count, winmm_face::SendDone done) override {
        Service& s = service();
        std::unique_lock<std::mutex> lock(s.mutex_);
        if (s.epoch_ != epoch_) return MMSYSERR_NODRIVER;
        OutDevice& d = s.out_[device_];
        if (d.config.acceptLimit >= 0 && d.accepted >= d.config.acceptLimit) {
            return MMSYSERR_NODRIVER;  // unplugged
        }
        ++d.accepted;
        Bytes message(bytes, bytes + count);
        s.sent_.push_back(SentMessage{device_, message});
        const auto playTime = d.config.playTime + linkTime(count, d.config.bytesPerSecond);
        const bool atOnce = playTime == Clock::duration::zero();
        // On a link with a speed the message waits for the cable behind the one still on it.
        auto start = s.now();
        if (d.config.bytesPerSecond > 0 && !d.playing.empty()) {
            start = std::max(start, d.playing.back().end);
        }
        const uint64_t send = d.sends++;
        d.playing.push_back(Playing{start + playTime, std::move(message),
                                    atOnce ? winmm_face::SendDone() : std::move(done), send});
        s.wake_.notify_all();
        if (atOnce) {
            lock.unlock();
            done();
        } else if (d.config.blocking) {
            s.waitUntilPlayedOut(lock, epoch_, device_, send, start + playTime);
        }
        return MMSYSERR_NOERROR;
    }

    // Messages still playing are cut off: they never reach the peer whole.
    void cutOff() override {
        Service& s = service();
        std::lock_guard<std::mutex> lock(s.mutex_);
        if (s.epoch_ != epoch_) return;
        OutDevice& d = s.out_[device_];
        d.playing.clear();
        d.finished = d.sends;
        s.idle_.notify_all();
    }

  private:
    const uint64_t epoch_;
    const unsigned device_;
};

// What opening a port asks, In and Out alike: a device of that number that opens and is not open
// already.
template <typename Device>
MMRESULT claimDevice(std::vector<Device>& devices, unsigned number) {
    if (number >= devices.size()) return MMSYSERR_BADDEVICEID;
    Device& d = devices[number];
    if (d.config.openResult != MMSYSERR_NOERROR) return d.config.openResult;
    if (d.open) return MMSYSERR_ALLOCATED;
    d.open = true;
    return MMSYSERR_NOERROR;
}

MMRESULT Service::openInput(const winmm_face::PortInfo& port, winmm_face::MessageSink sink,
                            std::unique_ptr<winmm_face::InputPortLink>& link) {
    std::lock_guard<std::mutex> lock(mutex_);
    const MMRESULT refused = claimDevice(in_, port.number);
    if (refused != MMSYSERR_NOERROR) return refused;
    in_[port.number].sink = std::move(sink);
    link = std::make_unique<InLink>(epoch_, port.number);
    return MMSYSERR_NOERROR;
}

MMRESULT Service::openOutput(const winmm_face::PortInfo& port,
                             std::unique_ptr<winmm_face::OutputPortLink>& link) {
    std::lock_guard<std::mutex> lock(mutex_);
    const MMRESULT refused = claimDevice(out_, port.number);
    if (refused != MMSYSERR_NOERROR) return refused;
    link = std::make_unique<OutLink>(epoch_, port.number);
    return MMSYSERR_NOERROR;
}

void Service::deliver(std::unique_lock<std::mutex>& lock, const InputEvent& event) {
    // Input to a closed port is lost.
    if (event.device >= in_.size() || !in_[event.device].open) return;
    const winmm_face::MessageSink sink = in_[event.device].sink;
    if (!sink) return;
    delivering_ = true;
    lock.unlock();
    sink(event.bytes.data(), event.bytes.size(), event.error);
    lock.lock();
    delivering_ = false;
    idle_.notify_all();
}

bool Service::handOnePlayedMessage(std::unique_lock<std::mutex>& lock, Clock::time_point now,
                                   Clock::time_point& next) {
    for (size_t device = 0; device < out_.size(); ++device) {
        OutDevice& d = out_[device];
        if (d.playing.empty()) continue;
        if (d.playing.front().end > now) {
            next = std::min(next, d.playing.front().end);
            continue;
        }
        Playing played = std::move(d.playing.front());
        d.playing.pop_front();
        const Peer peer = d.peer;
        const uint64_t epoch = epoch_;
        lock.unlock();
        if (peer) peer(played.bytes);
        if (played.done) played.done();
        lock.lock();
        if (epoch_ == epoch) {
            out_[device].finished = std::max(out_[device].finished, played.send + 1);
        }
        idle_.notify_all();
        return true;
    }
    return false;
}

void Service::advanceVirtualClock(std::unique_lock<std::mutex>& lock, Clock::time_point target) {
    for (;;) {
        if (!settled()) {
            wake_.notify_all();
            // Only a callback that never returns keeps it from settling: then time moves on.
            if (!idle_.wait_for(lock, kSettleLimit, [this] { return settled(); })) break;
        }
        const auto next = nextDue();
        if (next > target) break;
        virtualNow_ = std::max(virtualNow_, next);
    }
    virtualNow_ = std::max(virtualNow_, target);
}

void Service::waitUntilPlayedOut(std::unique_lock<std::mutex>& lock, uint64_t epoch,
                                 unsigned device, uint64_t send, Clock::time_point end) {
    const auto finished = [&] { return epoch_ != epoch || out_[device].finished > send; };
    if (virtual_) {
        advanceVirtualClock(lock, end);
    } else {
        // Bounded like every wait here: a worker that never gets to it leaves the header
        // playing, which the program meets as a message still playing.
        idle_.wait_for(lock, end - Clock::now() + kSettleLimit, finished);
    }
}

void Service::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    workerId_ = std::this_thread::get_id();
    while (!stopping_) {
        const auto now = this->now();
        auto next = Clock::time_point::max();

        // Messages that have played out go to the device's peer, in the order they were sent;
        // after each one the lists may have changed, so everything is looked at again.
        if (handOnePlayedMessage(lock, now, next)) continue;

        if (!events_.empty()) {
            auto first = events_.begin();
            if (first->first.first <= now) {
                const InputEvent event = std::move(first->second);
                events_.erase(first);
                deliver(lock, event);
                idle_.notify_all();
                continue;
            }
            next = std::min(next, first->first.first);
        }
        waiting_ = true;
        idle_.notify_all();
        // On virtual time only a pause of the program moves the clock, and it wakes the worker.
        if (virtual_ || next == Clock::time_point::max()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, next);
        }
        waiting_ = false;
    }
}

}  // namespace

void reset(std::vector<InDeviceConfig> inDevices, std::vector<OutDeviceConfig> outDevices) {
    Service& s = service();
    std::unique_lock<std::mutex> lock(s.mutex_);
    s.waitForCallbacks(lock);
    ++s.epoch_;
    s.in_.clear();
    s.out_.clear();
    for (auto& config : inDevices) {
        s.in_.emplace_back();
        s.in_.back().config = std::move(config);
    }
    for (auto& config : outDevices) {
        s.out_.emplace_back();
        s.out_.back().config = std::move(config);
    }
    s.events_.clear();
    s.sent_.clear();
    s.log_.clear();
    s.wake_.notify_all();
}

void attachPeer(unsigned outDevice, Peer peer) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    if (outDevice < s.out_.size()) s.out_[outDevice].peer = std::move(peer);
}

namespace {

void queueInput(unsigned inDevice, Bytes bytes, std::chrono::milliseconds delay, bool error) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    const auto due = s.now() + delay;
    const uint64_t order = s.nextOrder_++;
    s.events_.emplace(std::make_pair(due, order), InputEvent{inDevice, std::move(bytes), error});
    s.wake_.notify_all();
}

}  // namespace

void sendInput(unsigned inDevice, Bytes bytes, std::chrono::milliseconds delay) {
    queueInput(inDevice, std::move(bytes), delay, false);
}

void sendInputError(unsigned inDevice, Bytes bytes) {
    queueInput(inDevice, std::move(bytes), std::chrono::milliseconds(0), true);
}

bool waitForInputDelivered(std::chrono::milliseconds limit) {
    Service& s = service();
    std::unique_lock<std::mutex> lock(s.mutex_);
    const auto now = s.now();
    return s.idle_.wait_for(lock, limit, [&] {
        if (s.delivering_) return false;
        return s.events_.empty() || s.events_.begin()->first.first > now;
    });
}

std::vector<SentMessage> sentMessages() {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    return s.sent_;
}

std::vector<std::string> callLog() {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    return s.log_;
}

#ifndef _WIN32
namespace {

// The program's pause: the clock moves on, and everything that comes due on the way is handed on
// and delivered at its own time, before the program looks at its reply slot again. What is due is
// settled before the clock moves, so a run never depends on how fast the worker thread is: the
// same command gives the same run. A pause with nothing due on the way wakes nobody.
void virtualSleep(DWORD milliseconds) {
    Service& s = service();
    std::unique_lock<std::mutex> lock(s.mutex_);
    s.advanceVirtualClock(lock, s.virtualNow_ + std::chrono::milliseconds(milliseconds));
}

int64_t virtualNowNanoseconds() {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(s.virtualNow_.time_since_epoch())
        .count();
}

const TimeSource kVirtualTime{&virtualSleep, &virtualNowNanoseconds};

}  // namespace
#endif

bool useVirtualTime(bool on) {
#ifdef _WIN32
    // The program pauses in the system's own Sleep: there is nothing to put on another clock.
    return !on;
#else
    Service& s = service();
    {
        std::lock_guard<std::mutex> lock(s.mutex_);
        if (on && !s.virtual_) s.virtualNow_ = Clock::now();
        s.virtual_ = on;
        s.wake_.notify_all();
    }
    setTimeSource(on ? &kVirtualTime : nullptr);
    return true;
#endif
}

bool inDeviceOpen(unsigned inDevice) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    return inDevice < s.in_.size() && s.in_[inDevice].open;
}

bool outDeviceOpen(unsigned outDevice) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    return outDevice < s.out_.size() && s.out_[outDevice].open;
}

size_t queuedInputBuffers(unsigned inDevice) {
    return winmm_face::queuedInputBuffers(inDevice);
}

unsigned notices(unsigned inDevice, UINT kind) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    if (inDevice >= s.in_.size()) return 0;
    auto it = s.in_[inDevice].notices.find(kind);
    return it == s.in_[inDevice].notices.end() ? 0 : it->second;
}

}  // namespace emu

winmm_face::PortSystem& winmm_face::portSystem() {
    return emu::service();
}
