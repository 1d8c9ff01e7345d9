#include "input_device.h"

#include <algorithm>
#include <cstring>

namespace midi_backend {

namespace {

constexpr uint8_t kSysExStart = 0xF0;
constexpr size_t kShortMessageMax = 3;

bool headerUsable(const MIDIHDR* header, UINT headerSize) {
    return header != nullptr && headerSize >= sizeof(MIDIHDR) && header->lpData != nullptr &&
           header->dwBufferLength > 0;
}

// A short message travels packed in one parameter, status byte lowest.
DWORD_PTR packShortMessage(const uint8_t* bytes, size_t count) {
    DWORD packed = 0;
    for (size_t i = 0; i < count && i < kShortMessageMax; ++i)
        packed |= static_cast<DWORD>(bytes[i]) << (8 * i);
    return packed;
}

}  // namespace

InputDevice::InputDevice(MidiInCallback callback, DWORD_PTR instance)
    : callback_(callback), instance_(instance) {}

MMRESULT InputDevice::prepareHeader(MIDIHDR* header, UINT headerSize) {
    if (!headerUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(stateMutex_);
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT InputDevice::unprepareHeader(MIDIHDR* header, UINT headerSize) {
    if (header == nullptr || headerSize < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT InputDevice::addBuffer(MIDIHDR* header, UINT headerSize) {
    if (!headerUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    if (closing_) return MMSYSERR_INVALHANDLE;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    queue_.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT InputDevice::start() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!started_) {
        started_ = true;
        startTime_ = std::chrono::steady_clock::now();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT InputDevice::reset() {
    std::lock_guard<std::recursive_mutex> serial(callbackMutex_);
    std::vector<Notice> notices;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        started_ = false;
        const DWORD now = millisecondsSinceStart();
        for (MIDIHDR* header : queue_) {
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            notices.push_back({MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), now});
        }
        queue_.clear();
    }
    notifyAll(notices);
    return MMSYSERR_NOERROR;
}

MMRESULT InputDevice::beginClose() {
    std::lock_guard<std::recursive_mutex> serial(callbackMutex_);
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (!queue_.empty()) return MIDIERR_STILLPLAYING;
    closing_ = true;
    started_ = false;
    return MMSYSERR_NOERROR;
}

void InputDevice::deliver(const uint8_t* bytes, size_t count) {
    if (count == 0) return;
    std::lock_guard<std::recursive_mutex> serial(callbackMutex_);
    std::vector<Notice> notices;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!started_ || closing_) return;
        const DWORD now = millisecondsSinceStart();
        if (bytes[0] != kSysExStart) {
            notices.push_back({MIM_DATA, packShortMessage(bytes, count), now});
        } else {
            // A message longer than the buffer fills it, and the rest goes on in the next queued
            // buffer; what finds no buffer is lost, as on a port nobody listens to.
            size_t offset = 0;
            while (offset < count && !queue_.empty()) {
                MIDIHDR* header = queue_.front();
                const size_t room = header->dwBufferLength - header->dwBytesRecorded;
                const size_t part = std::min(room, count - offset);
                std::memcpy(header->lpData + header->dwBytesRecorded, bytes + offset, part);
                header->dwBytesRecorded += static_cast<DWORD>(part);
                offset += part;
                queue_.pop_front();
                header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
                notices.push_back({MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), now});
            }
        }
    }
    notifyAll(notices);
}

DWORD InputDevice::millisecondsSinceStart() const {
    if (!started_) return 0;
    const auto elapsed = std::chrono::steady_clock::now() - startTime_;
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void InputDevice::notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    std::lock_guard<std::recursive_mutex> serial(callbackMutex_);
    notifyAll({{message, param1, param2}});
}

void InputDevice::notifyAll(const std::vector<Notice>& notices) {
    if (callback_ == nullptr) return;
    for (const Notice& notice : notices)
        callback_(handle(), notice.message, instance_, notice.param1, notice.param2);
}

}  // namespace midi_backend
