#include "emulated_midi_service.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace emu {
namespace {

using Clock = std::chrono::steady_clock;
typedef void(CALLBACK* MidiInProc)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

constexpr uintptr_t kFirstHandle = 0x1000;
constexpr auto kCallbackDrainLimit = std::chrono::seconds(2);

struct InDevice {
    InDeviceConfig config;
    bool open = false;
    bool started = false;
    uintptr_t handle = 0;
    MidiInProc callback = nullptr;
    DWORD_PTR instance = 0;
    Clock::time_point openedAt;
    std::deque<MIDIHDR*> queue;
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
    std::thread::id workerId_;
    std::thread worker_;

    InDevice* inByHandle(HMIDIIN h) {
        const uintptr_t id = reinterpret_cast<uintptr_t>(h);
        for (auto& d : in_) {
            if (d.open && d.handle == id) return &d;
        }
        return nullptr;
    }
    OutDevice* outByHandle(HMIDIOUT h) {
        const uintptr_t id = reinterpret_cast<uintptr_t>(h);
        for (auto& d : out_) {
            if (d.open && d.handle == id) return &d;
        }
        return nullptr;
    }
    Notice notice(InDevice& d, UINT kind, DWORD_PTR param1, DWORD_PTR param2) {
        ++d.notices[kind];
        return Notice{d.callback, reinterpret_cast<HMIDIIN>(d.handle), kind, d.instance, param1,
                      param2};
    }
    DWORD_PTR timestamp(const InDevice& d) const {
        return static_cast<DWORD_PTR>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - d.openedAt)
                .count());
    }

    // Lets a callback under way on the worker finish before the caller changes a device's
    // buffers, as the real service does not hand a buffer back twice.
    void waitForCallbacks(std::unique_lock<std::mutex>& lock) {
        if (std::this_thread::get_id() == workerId_) return;
        idle_.wait_for(lock, kCallbackDrainLimit, [this] { return !delivering_; });
    }

  private:
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
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            call(notice(*d, MIM_LONGERROR, reinterpret_cast<DWORD_PTR>(header), timestamp(*d)));
        } else {
            call(notice(*d, MIM_ERROR, 0, timestamp(*d)));
        }
        return;
    }

    if (event.bytes[0] != 0xF0) {
        DWORD packed = 0;
        for (size_t i = 0; i < event.bytes.size() && i < 3; ++i) {
            packed |= static_cast<DWORD>(event.bytes[i]) << (8 * i);
        }
        call(notice(*d, MIM_DATA, packed, timestamp(*d)));
        return;
    }

    // A System Exclusive message fills the queued buffers in turn; what finds no buffer is lost.
    size_t offset = 0;
    while (offset < event.bytes.size()) {
        d = deviceReady();
        if (d == nullptr || d->queue.empty()) return;
        MIDIHDR* header = d->queue.front();
        d->queue.pop_front();
        const size_t n = std::min<size_t>(event.bytes.size() - offset, header->dwBufferLength);
        std::memcpy(header->lpData, event.bytes.data() + offset, n);
        header->dwBytesRecorded = static_cast<DWORD>(n);
        header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        offset += n;
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
        const auto now = Clock::now();
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
        idle_.notify_all();
        if (next == Clock::time_point::max()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, next);
        }
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
    const auto due = Clock::now() + delay;
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
    const auto now = Clock::now();
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

bool headerUsable(LPMIDIHDR pmh, UINT cbmh) {
    return pmh != nullptr && cbmh >= sizeof(MIDIHDR) && pmh->lpData != nullptr &&
           pmh->dwBufferLength > 0;
}

void copyName(const std::string& name, CHAR* out) {
    const size_t n = std::min<size_t>(name.size(), MAXPNAMELEN - 1);
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
}

}  // namespace

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen) {
    auto& s = service();
    std::unique_lock<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiInOpen " + std::to_string(uDeviceID));
    if (phmi == nullptr) return MMSYSERR_INVALPARAM;
    if (uDeviceID >= s.in_.size()) return MMSYSERR_BADDEVICEID;
    if (fdwOpen != CALLBACK_FUNCTION && fdwOpen != CALLBACK_NULL) return MMSYSERR_INVALFLAG;
    emu::InDevice& d = s.in_[uDeviceID];
    if (d.config.openResult != MMSYSERR_NOERROR) return d.config.openResult;
    if (d.open) return MMSYSERR_ALLOCATED;
    d.open = true;
    d.started = false;
    d.handle = s.nextHandle_++;
    d.callback =
        fdwOpen == CALLBACK_FUNCTION ? reinterpret_cast<emu::MidiInProc>(dwCallback) : nullptr;
    d.instance = dwInstance;
    d.openedAt = Clock::now();
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
    if (pmic == nullptr || cbmic < sizeof(MIDIINCAPSA)) return MMSYSERR_INVALPARAM;
    if (uDeviceID >= s.in_.size()) return MMSYSERR_BADDEVICEID;
    std::memset(pmic, 0, sizeof *pmic);
    copyName(s.in_[uDeviceID].config.name, pmic->szPname);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    if (s.inByHandle(hmi) == nullptr) return MMSYSERR_INVALHANDLE;
    if (!headerUsable(pmh, cbmh)) return MMSYSERR_INVALPARAM;
    pmh->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    if (s.inByHandle(hmi) == nullptr) return MMSYSERR_INVALHANDLE;
    if (pmh == nullptr || cbmh < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if ((pmh->dwFlags & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
    pmh->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    emu::InDevice* d = s.inByHandle(hmi);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (!headerUsable(pmh, cbmh)) return MMSYSERR_INVALPARAM;
    if ((pmh->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
    if ((pmh->dwFlags & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
    pmh->dwFlags = (pmh->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    pmh->dwBytesRecorded = 0;
    d->queue.push_back(pmh);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStart(HMIDIIN hmi) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiInStart");
    emu::InDevice* d = s.inByHandle(hmi);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (d->config.startResult != MMSYSERR_NOERROR) return d->config.startResult;
    d->started = true;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInReset(HMIDIIN hmi) {
    auto& s = service();
    std::unique_lock<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiInReset");
    s.waitForCallbacks(lock);
    emu::InDevice* d = s.inByHandle(hmi);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    d->started = false;
    // Every queued buffer comes back, empty, through the callback.
    std::vector<emu::Notice> returned;
    for (MIDIHDR* header : d->queue) {
        header->dwBytesRecorded = 0;
        header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        returned.push_back(s.notice(*d, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0));
    }
    d->queue.clear();
    lock.unlock();
    for (const auto& n : returned) n.send();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInClose(HMIDIIN hmi) {
    auto& s = service();
    std::unique_lock<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiInClose");
    s.waitForCallbacks(lock);
    emu::InDevice* d = s.inByHandle(hmi);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (!d->queue.empty()) return MIDIERR_STILLPLAYING;
    d->open = false;
    d->started = false;
    const emu::Notice closed = s.notice(*d, MIM_CLOSE, 0, 0);
    lock.unlock();
    closed.send();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR /*dwCallback*/,
                            DWORD_PTR /*dwInstance*/, DWORD fdwOpen) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiOutOpen " + std::to_string(uDeviceID));
    if (phmo == nullptr) return MMSYSERR_INVALPARAM;
    if (uDeviceID >= s.out_.size()) return MMSYSERR_BADDEVICEID;
    // Output notices are not emulated; the updater asks for none.
    if (fdwOpen != CALLBACK_NULL) return MMSYSERR_INVALFLAG;
    emu::OutDevice& d = s.out_[uDeviceID];
    if (d.config.openResult != MMSYSERR_NOERROR) return d.config.openResult;
    if (d.open) return MMSYSERR_ALLOCATED;
    d.open = true;
    d.handle = s.nextHandle_++;
    *phmo = reinterpret_cast<HMIDIOUT>(d.handle);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    if (pmoc == nullptr || cbmoc < sizeof(MIDIOUTCAPSA)) return MMSYSERR_INVALPARAM;
    if (uDeviceID >= s.out_.size()) return MMSYSERR_BADDEVICEID;
    std::memset(pmoc, 0, sizeof *pmoc);
    copyName(s.out_[uDeviceID].config.name, pmoc->szPname);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    if (s.outByHandle(hmo) == nullptr) return MMSYSERR_INVALHANDLE;
    if (!headerUsable(pmh, cbmh)) return MMSYSERR_INVALPARAM;
    pmh->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    emu::OutDevice* d = s.outByHandle(hmo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (!headerUsable(pmh, cbmh)) return MMSYSERR_INVALPARAM;
    if ((pmh->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
    if ((pmh->dwFlags & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
    if (d->config.acceptLimit >= 0 && d->accepted >= d->config.acceptLimit) {
        return MMSYSERR_NODRIVER;  // unplugged
    }
    ++d->accepted;
    Bytes bytes(reinterpret_cast<uint8_t*>(pmh->lpData),
                reinterpret_cast<uint8_t*>(pmh->lpData) + pmh->dwBufferLength);
    const unsigned index = static_cast<unsigned>(d - s.out_.data());
    s.sent_.push_back(emu::SentMessage{index, bytes});
    pmh->dwFlags = (pmh->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    d->playing.push_back(
        emu::Playing{pmh, Clock::now() + d->config.playTime, std::move(bytes), false});
    s.wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    emu::OutDevice* d = s.outByHandle(hmo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (pmh == nullptr || cbmh < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    for (auto& p : d->playing) {
        if (p.header != pmh) continue;
        if (Clock::now() < p.end) return MIDIERR_STILLPLAYING;
        p.header = nullptr;
    }
    pmh->dwFlags = (pmh->dwFlags & ~(MHDR_PREPARED | MHDR_INQUEUE)) | MHDR_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiOutReset");
    emu::OutDevice* d = s.outByHandle(hmo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    // Messages still playing are cut off: they end now and never reach the peer whole.
    for (auto& p : d->playing) {
        if (p.handedToPeer) continue;
        p.handedToPeer = true;
        p.end = Clock::now();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
    auto& s = service();
    std::lock_guard<std::mutex> lock(s.mutex_);
    s.log_.push_back("midiOutClose");
    emu::OutDevice* d = s.outByHandle(hmo);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    for (const auto& p : d->playing) {
        if (p.header != nullptr && Clock::now() < p.end) return MIDIERR_STILLPLAYING;
    }
    d->open = false;
    return MMSYSERR_NOERROR;
}
