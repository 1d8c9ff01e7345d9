#include "platform/winmm_face/input_device.h"

#include "platform/winmm_face/test_hooks.h"

namespace winmm_face {

namespace {

constexpr LONGLONG kMillisecondsPerSecond = 1000;

LONGLONG performanceCount() {
    LARGE_INTEGER count;
    count.QuadPart = 0;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

}  // namespace

InputDevice::InputDevice(unsigned port, MidiInCallback callback, DWORD_PTR instance)
    : port_(port), callback_(callback), instance_(instance) {}

size_t InputDevice::queuedBuffers() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return queue_.size();
}

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
    const LONGLONG now = performanceCount();
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!started_) {
        started_ = true;
        startCount_ = now;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT InputDevice::reset() {
    std::lock_guard<std::recursive_mutex> serial(callbackMutex_);
    winmm_model::BufferQueue returned;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        started_ = false;
        returned = winmm_model::handBackAll(queue_);
    }
    for (MIDIHDR* header : returned) notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
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

void InputDevice::deliver(const uint8_t* bytes, size_t count, bool damaged) {
    if (count == 0) return;
    std::lock_guard<std::recursive_mutex> serial(callbackMutex_);
    if (damaged) {
        deliverDamaged(bytes, count);
        return;
    }
    if (!winmm_model::isSystemExclusive(bytes, count)) {
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            if (!started_ || closing_) return;
        }
        notify(MIM_DATA, winmm_model::packShortMessage(bytes, count), timestamp());
        return;
    }
    // The callback may queue its buffer again, or reset or close the device, between two
    // buffers: each part looks again.
    size_t offset = 0;
    for (;;) {
        MIDIHDR* header = nullptr;
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            if (!started_ || closing_) return;
            header = winmm_model::fillNextBuffer(queue_, bytes, count, offset);
        }
        if (header == nullptr) return;
        notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), timestamp());
    }
}

void InputDevice::deliverDamaged(const uint8_t* bytes, size_t count) {
    MIDIHDR* header = nullptr;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!started_ || closing_) return;
        if (winmm_model::isSystemExclusive(bytes, count)) {
            // A broken System Exclusive message hands back the buffer it was filling, empty.
            if (queue_.empty()) return;
            header = queue_.front();
            queue_.pop_front();
            header->dwBytesRecorded = 0;
            winmm_model::handBack(header);
        }
    }
    if (header != nullptr) {
        notify(MIM_LONGERROR, reinterpret_cast<DWORD_PTR>(header), timestamp());
    } else {
        notify(MIM_ERROR, 0, timestamp());
    }
}

DWORD_PTR InputDevice::timestamp() {
    LONGLONG start = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!started_) return 0;
        start = startCount_;
    }
    LARGE_INTEGER frequency;
    frequency.QuadPart = 0;
    QueryPerformanceFrequency(&frequency);
    const LONGLONG countsPerMillisecond = frequency.QuadPart / kMillisecondsPerSecond;
    if (countsPerMillisecond <= 0) return 0;
    return static_cast<DWORD_PTR>((performanceCount() - start) / countsPerMillisecond);
}

void InputDevice::notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    std::lock_guard<std::recursive_mutex> serial(callbackMutex_);
    if (CallObserver* observer = callObserver()) observer->notified(port_, message);
    if (callback_ != nullptr) callback_(handle(), message, instance_, param1, param2);
}

}  // namespace winmm_face
