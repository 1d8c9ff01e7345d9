#include "emulated_midi_service.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "winmm_model/winmm_model.h"

#ifndef _WIN32
#include "posix/time_source.h"
#endif

namespace emu {
namespace {

using Clock = std::chrono::steady_clock;
typedef void(CALLBACK* MidiInProc)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

constexpr uintptr_t kFirstHandle = 0x1000;
constexpr auto kCallbackDrainLimit = std::chrono::seconds(2);
// How long a virtual pause waits for the worker to deliver what has come due; only a callback
// that never returns would take this long.
constexpr auto kSettleLimit = std::chrono::seconds(10);

struct InDevice {
    InDeviceConfig config;
    bool open = false;
    bool started = false;
    uintptr_t handle = 0;
    MidiInProc callback = nullptr;
    DWORD_PTR instance = 0;
    Clock::time_point openedAt;
    winmm_model::BufferQueue queue;
    std::map<UINT, unsigned> notices;
};

struct Playing {
    MIDIHDR* header;  // null once the program has unprepared it
    Clock::time_point end;
    Bytes bytes;
    bool handedToPeer = false;
};

struct OutDevice {
    OutDeviceConfig config;
    bool open = false;
    uintptr_t handle = 0;
    long accepted = 0;
    Peer peer;
    std::deque<Playing> playing;
};

// Queued by (due time, order of sending).
struct InputEvent {
    unsigned device;
    Bytes bytes;
    bool error;
};

// One callback call, made with the service's lock released: the program's callback calls back
// into the service to queue its buffer again.
struct Notice {
    MidiInProc callback;
    HMIDIIN handle;
    UINT kind;
    DWORD_PTR instance;
    DWORD_PTR param1;
    DWORD_PTR param2;
    void send() const {
        if (callback != nullptr) callback(handle, kind, instance, param1, param2);
    }
};

class Service {
  public:
    Service() : worker_([this] { run(); }) {}
    ~Service() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<InDevice> in_;
    std::vector<OutDevice> out_;
    std::multimap<std::pair<Clock::time_point, uint64_t>, InputEvent> events_;
    std::vector<SentMessage> sent_;
    std::vector<std::string> log_;
    uintptr_t nextHandle_ = kFirstHandle;
    uint64_t nextOrder_ = 0;
    uint64_t epoch_ = 0;
    bool delivering_ = false;  // the worker is inside a program callback
    bool stopping_ = false;
    bool waiting_ = false;  // the worker is waiting for work
    bool virtual_ = false;  // time moves only when the program pauses
    Clock::time_point virtualNow_;
    std::thread::id workerId_;
    std::thread worker_;

    // The open device of that handle, In or Out; null when there is none.
    InDevice* byHandle(HMIDIIN h) { return openDevice(in_, reinterpret_cast<uintptr_t>(h)); }
    OutDevice* byHandle(HMIDIOUT h) { return openDevice(out_, reinterpret_cast<uintptr_t>(h)); }
    Notice notice(InDevice& d, UINT kind, DWORD_PTR param1, DWORD_PTR param2) {
        ++d.notices[kind];
        return Notice{d.callback, reinterpret_cast<HMIDIIN>(d.handle), kind, d.instance, param1,
                      param2};
    }
    Clock::time_point now() const { return virtual_ ? virtualNow_ : Clock::now(); }
    DWORD_PTR timestamp(const InDevice& d) const {
        return static_cast<DWORD_PTR>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now() - d.openedAt).count());
    }
    // When the worker has next to hand on a message or deliver input; max() when never.
    Clock::time_point nextDue() const {
        auto next = Clock::time_point::max();
        if (!events_.empty()) next = events_.begin()->first.first;
        for (const OutDevice& d : out_) {
            for (const Playing& p : d.playing) {
                if (!p.handedToPeer) next = std::min(next, p.end);
            }
        }
        return next;
    }
    // Nothing has come due that the worker has still to hand on or deliver.
    bool settled() const { return waiting_ && !delivering_ && nextDue() > now(); }

    // Lets a callback under way on the worker finish before the caller changes a device's
    // buffers, as the real service does not hand a buffer back twice.
    void waitForCallbacks(std::unique_lock<std::mutex>& lock) {
        if (std::this_thread::get_id() == workerId_) return;
        idle_.wait_for(lock, kCallbackDrainLimit, [this] { return !delivering_; });
    }

  private:
    template <typename Device>
    static Device* openDevice(std::vector<Device>& devices, uintptr_t handle) {
        for (auto& d : devices) {
            if (d.open && d.handle == handle) return &d;
        }
        return nullptr;
    }

    void run();
    // Hands the oldest message that has played out to its peer and returns true; otherwise
    // lowers next to the time the next one will have played out.
    bool handOnePlayedMessage(std::unique_lock<std::mutex>& lock, Clock::time_point now,
                              Clock::time_point& next);
    void deliver(std::unique_lock<std::mutex>& lock, InputEvent event);
};

Service& service() {
    static Service instance;
    return instance;
}

void Service::deliver(std::unique_lock<std::mutex>& lock, InputEvent event) {
    const uint64_t epoch = epoch_;
    auto deviceReady = [&]() -> InDevice* {
        if (epoch != epoch_ || event.device >= in_.size()) return nullptr;
        InDevice& d = in_[event.device];
        return (d.open && d.started) ? &d : nullptr;
    };
    auto call = [&](const Notice& n) {
        delivering_ = true;
        lock.unlock();
        n.send();
        lock.lock();
        delivering_ = false;
        idle_.notify_all();
    };

    InDevice* d = deviceReady();
    if (d == nullptr || event.bytes.empty()) return;  // input to a closed or stopped port is lost

    if (event.error) {
        if (event.bytes[0] == 0xF0) {
            if (d->queue.empty()) return;
            MIDIHDR* header = d->queue.front();
            d->queue.pop_front();
            header->dwBytesRecorded = 0;
            winmm_model::handBack(header);
            call(notice(*d, MIM_LONGERROR, reinterpret_cast<DWORD_PTR>(header), timestamp(*d)));
        } else {
            call(notice(*d, MIM_ERROR, 0, timestamp(*d)));
        }
        return;
    }

    const uint8_t* bytes = event.bytes.data();
    const size_t count = event.bytes.size();
    if (!winmm_model::isSystemExclusive(bytes, count)) {
        call(notice(*d, MIM_DATA, winmm_model::packShortMessage(bytes, count), timestamp(*d)));
        return;
    }
    // The callback may close or reset the device between two buffers: each one looks again.
    size_t offset = 0;
    while ((d = deviceReady()) != nullptr) {
        MIDIHDR* header = winmm_model::fillNextBuffer(d->queue, bytes, count, offset);
        if (header == nullptr) return;
        call(notice(*d, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), timestamp(*d)));
    }
}

bool Service::handOnePlayedMessage(std::unique_lock<std::mutex>& lock, Clock::time_point now,
                                   Clock::time_point& next) {
    for (OutDevice& d : out_) {
        while (!d.playing.empty() && d.playing.front().handedToPeer &&
               d.playing.front().header == nullptr) {
            d.playing.pop_front();
        }
        for (auto& p : d.playing) {
            if (p.handedToPeer) continue;
            if (p.end > now) {
                next = std::min(next, p.end);
                break;
            }
            p.handedToPeer = true;
            if (d.peer) {
                Peer peer = d.peer;
                Bytes bytes = p.bytes;
                lock.unlock();
                peer(bytes);
                lock.lock();
            }
            return true;
        }
    }
    return false;
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
                InputEvent event = std::move(first->second);
                events_.erase(first);
                deliver(lock, std::move(event));
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
    const auto target = s.virtualNow_ + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (!s.settled()) {
            s.wake_.notify_all();
            // Only a callback that never returns keeps it from settling: then time moves on.
            if (!s.idle_.wait_for(lock, kSettleLimit, [&s] { return s.settled(); })) break;
        }
        const auto next = s.nextDue();
        if (next > target) break;
        s.virtualNow_ = std::max(s.virtualNow_, next);
    }
    s.virtualNow_ = target;
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
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    return inDevice < s.in_.size() ? s.in_[inDevice].queue.size() : 0;
}

unsigned notices(unsigned inDevice, UINT kind) {
    Service& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    if (inDevice >= s.in_.size()) return 0;
    auto it = s.in_[inDevice].notices.find(kind);
    return it == s.in_[inDevice].notices.end() ? 0 : it->second;
}

}  // namespace emu

// The service's face to the program: the platform's own functions.
namespace {

using emu::Bytes;
using emu::Clock;
using emu::service;

void copyName(const std::string& name, CHAR* out) {
    const size_t n = std::min<size_t>(name.size(), MAXPNAMELEN - 1);
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
}

// What opening asks, In and Out alike: somewhere to put the handle, a device of that number, a
// kind of callback the device gives, and a device that opens and is not open already. The device
// is then open under a new handle.
template <typename Device>
MMRESULT claimDevice(std::vector<Device>& devices, const void* handleOut, UINT id,
                     bool callbackGiven, Device*& claimed) {
    if (handleOut == nullptr) return MMSYSERR_INVALPARAM;
    if (id >= devices.size()) return MMSYSERR_BADDEVICEID;
    if (!callbackGiven) return MMSYSERR_INVALFLAG;
    Device& d = devices[id];
    if (d.config.openResult != MMSYSERR_NOERROR) return d.config.openResult;
    if (d.open) return MMSYSERR_ALLOCATED;
    d.open = true;
    d.handle = service().nextHandle_++;
    claimed = &d;
    return MMSYSERR_NOERROR;
}

// A device's caps: only its name is set.
template <typename Caps, typename Device>
MMRESULT deviceCaps(const std::vector<Device>& devices, UINT_PTR id, Caps* out, UINT outSize) {
    if (out == nullptr) return MMSYSERR_INVALPARAM;
    if (id >= devices.size()) return MMSYSERR_BADDEVICEID;
    Caps caps{};
    copyName(devices[id].config.name, caps.szPname);
    return winmm_model::copyCaps(caps, out, outSize);
}

using Lock = std::unique_lock<std::mutex>;

// Whether a call lets a callback under way finish before it finds its device: those that hand
// buffers back or close do, so that a buffer never comes back twice.
enum class Wait { none, forCallbacks };

// How every call on an open device begins: the service's lock, the call in the log (unless
// logged is null), and the device found by its handle; an unknown handle is refused. The call
// gets the lock as well, to release it before it notifies the program.
template <typename Handle, typename Call>
MMRESULT onOpenDevice(Handle handle, const char* logged, Wait wait, Call call) {
    auto& s = service();
    Lock lock(s.mutex_);
    if (logged != nullptr) s.log_.push_back(logged);
    if (wait == Wait::forCallbacks) s.waitForCallbacks(lock);
    auto* d = s.byHandle(handle);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    return call(*d, lock);
}

}  // namespace

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen) {
    auto& s = service();
    std::unique_lock<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiInOpen " + std::to_string(uDeviceID));
    const DWORD callbackType = winmm_model::callbackType(fdwOpen);
    emu::InDevice* claimed = nullptr;
    const MMRESULT refused =
        claimDevice(s.in_, phmi, uDeviceID,
                    callbackType == CALLBACK_FUNCTION || callbackType == CALLBACK_NULL, claimed);
    if (refused != MMSYSERR_NOERROR) return refused;
    emu::InDevice& d = *claimed;
    d.started = false;
    d.callback =
        callbackType == CALLBACK_FUNCTION ? reinterpret_cast<emu::MidiInProc>(dwCallback) : nullptr;
    d.instance = dwInstance;
    d.openedAt = s.now();
    d.queue.clear();
    *phmi = reinterpret_cast<HMIDIIN>(d.handle);
    const emu::Notice opened = s.notice(d, MIM_OPEN, 0, 0);
    lock.unlock();
    opened.send();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    return deviceCaps(s.in_, uDeviceID, pmic, cbmic);
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi, nullptr, Wait::none, [&](emu::InDevice&, Lock&) {
        return winmm_model::prepareHeader(pmh, cbmh);
    });
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi, nullptr, Wait::none, [&](emu::InDevice&, Lock&) {
        return winmm_model::unprepareInputHeader(pmh, cbmh);
    });
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi, nullptr, Wait::none, [&](emu::InDevice& d, Lock&) {
        const MMRESULT refused = winmm_model::bufferRefusal(pmh, cbmh);
        if (refused != MMSYSERR_NOERROR) return refused;
        winmm_model::queueBuffer(d.queue, pmh);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiInStart(HMIDIIN hmi) {
    return onOpenDevice(hmi, "midiInStart", Wait::none, [](emu::InDevice& d, Lock&) {
        if (d.config.startResult != MMSYSERR_NOERROR) return d.config.startResult;
        d.started = true;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiInReset(HMIDIIN hmi) {
    return onOpenDevice(hmi, "midiInReset", Wait::forCallbacks, [](emu::InDevice& d, Lock& lock) {
        d.started = false;
        // Every queued buffer comes back, empty, through the callback.
        std::vector<emu::Notice> returned;
        for (MIDIHDR* header : winmm_model::handBackAll(d.queue)) {
            returned.push_back(
                service().notice(d, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0));
        }
        lock.unlock();
        for (const auto& n : returned) n.send();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiInClose(HMIDIIN hmi) {
    return onOpenDevice(hmi, "midiInClose", Wait::forCallbacks, [](emu::InDevice& d, Lock& lock) {
        if (!d.queue.empty()) return MIDIERR_STILLPLAYING;
        d.open = false;
        d.started = false;
        const emu::Notice closed = service().notice(d, MIM_CLOSE, 0, 0);
        lock.unlock();
        closed.send();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR /*dwCallback*/,
                            DWORD_PTR /*dwInstance*/, DWORD fdwOpen) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiOutOpen " + std::to_string(uDeviceID));
    // Output notices are not emulated; the updater asks for none.
    emu::OutDevice* claimed = nullptr;
    const MMRESULT refused = claimDevice(
        s.out_, phmo, uDeviceID, winmm_model::callbackType(fdwOpen) == CALLBACK_NULL, claimed);
    if (refused != MMSYSERR_NOERROR) return refused;
    *phmo = reinterpret_cast<HMIDIOUT>(claimed->handle);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    return deviceCaps(s.out_, uDeviceID, pmoc, cbmoc);
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo, nullptr, Wait::none, [&](emu::OutDevice&, Lock&) {
        return winmm_model::prepareHeader(pmh, cbmh);
    });
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo, nullptr, Wait::none, [&](emu::OutDevice& d, Lock&) {
        const MMRESULT refused = winmm_model::bufferRefusal(pmh, cbmh);
        if (refused != MMSYSERR_NOERROR) return refused;
        if (d.config.acceptLimit >= 0 && d.accepted >= d.config.acceptLimit) {
            return MMSYSERR_NODRIVER;  // unplugged
        }
        ++d.accepted;
        auto& s = service();
        Bytes bytes(reinterpret_cast<uint8_t*>(pmh->lpData),
                    reinterpret_cast<uint8_t*>(pmh->lpData) + pmh->dwBufferLength);
        const unsigned index = static_cast<unsigned>(&d - s.out_.data());
        s.sent_.push_back(emu::SentMessage{index, bytes});
        pmh->dwFlags = (pmh->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        d.playing.push_back(
            emu::Playing{pmh, s.now() + d.config.playTime, std::move(bytes), false});
        s.wake_.notify_all();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo, nullptr, Wait::none, [&](emu::OutDevice& d, Lock&) {
        if (pmh == nullptr || cbmh < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
        for (auto& p : d.playing) {
            if (p.header != pmh) continue;
            if (service().now() < p.end) return MIDIERR_STILLPLAYING;
            p.header = nullptr;
        }
        pmh->dwFlags = (pmh->dwFlags & ~(MHDR_PREPARED | MHDR_INQUEUE)) | MHDR_DONE;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
    return onOpenDevice(hmo, "midiOutReset", Wait::none, [](emu::OutDevice& d, Lock&) {
        // Messages still playing are cut off: they end now and never reach the peer whole.
        for (auto& p : d.playing) {
            if (p.handedToPeer) continue;
            p.handedToPeer = true;
            p.end = service().now();
        }
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
    return onOpenDevice(hmo, "midiOutClose", Wait::none, [](emu::OutDevice& d, Lock&) {
        for (const auto& p : d.playing) {
            if (p.header != nullptr && service().now() < p.end) return MIDIERR_STILLPLAYING;
        }
        d.open = false;
        return MMSYSERR_NOERROR;
    });
}
