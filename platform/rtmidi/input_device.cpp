#include "input_device.h"

namespace midi_backend {

InputDevice::InputDevice(MidiInCallback callback, DWORD_PTR instance)
    : callback_(callback), instance_(instance) {}

MMRESULT InputDevice::unprepareHeader(MIDIHDR* header, UINT headerSize) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return winmm_model::unprepareInputHeader(header, headerSize);
}

MMRESULT InputDevice::addBuffer(MIDIHDR* header, UINT headerSize) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    const MMRESULT refused = winmm_model::bufferRefusal(header, headerSize);
    if (refused != MMSYSERR_NOERROR) return refused;
    if (closing_) return MMSYSERR_INVALHANDLE;
    winmm_model::queueBuffer(queue_, header);
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
        for (MIDIHDR* header : winmm_model::handBackAll(queue_))
            notices.push_back({MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), now});
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
        if (!winmm_model::isSystemExclusive(bytes, count)) {
            notices.push_back({MIM_DATA, winmm_model::packShortMessage(bytes, count), now});
        } else {
            size_t offset = 0;
            while (MIDIHDR* header = winmm_model::fillNextBuffer(queue_, bytes, count, offset))
                notices.push_back({MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), now});
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
