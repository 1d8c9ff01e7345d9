#include "platform/winmm_face/output_device.h"

#include <algorithm>
#include <utility>

#include "platform/winmm_face/winmm_model.h"

namespace winmm_face {

OutputDevice::OutputDevice(std::unique_ptr<OutputPortLink> link) : link_(std::move(link)) {}

MMRESULT OutputDevice::unprepareHeader(MIDIHDR* header, UINT headerSize) {
    if (header == nullptr || headerSize < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(stateMutex_);
    if ((header->dwFlags & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT OutputDevice::longMsg(MIDIHDR* header, UINT headerSize) {
    uint64_t send = 0;
    DWORD flagsBefore = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        const MMRESULT refused = winmm_model::bufferRefusal(header, headerSize);
        if (refused != MMSYSERR_NOERROR) return refused;
        if (!link_) return MMSYSERR_INVALHANDLE;
        send = nextSend_++;
        flagsBefore = header->dwFlags;
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        playing_.push_back({send, header});
    }
    // No lock is held while the port takes the message: it may say it has played out at once.
    MMRESULT result = MMSYSERR_NOMEM;
    try {
        std::weak_ptr<OutputDevice> self = weak_from_this();
        result = link_->send(reinterpret_cast<const uint8_t*>(header->lpData),
                             header->dwBufferLength, [self, send] {
                                 if (const auto device = self.lock()) device->playedOut(send);
                             });
    } catch (...) {
        // Out of memory on the way to the port: reported so, and the header is the program's again.
    }
    if (result != MMSYSERR_NOERROR) {
        std::lock_guard<std::mutex> lock(stateMutex_);
        playing_.erase(std::remove_if(playing_.begin(), playing_.end(),
                                      [send](const Playing& p) { return p.send == send; }),
                       playing_.end());
        header->dwFlags = flagsBefore;
    }
    return result;
}

void OutputDevice::playedOut(uint64_t send) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    const auto found = std::find_if(playing_.begin(), playing_.end(),
                                    [send](const Playing& p) { return p.send == send; });
    if (found == playing_.end()) return;
    winmm_model::handBack(found->header);
    playing_.erase(found);
}

MMRESULT OutputDevice::reset() {
    link_->cutOff();
    std::lock_guard<std::mutex> lock(stateMutex_);
    for (const Playing& p : playing_) winmm_model::handBack(p.header);
    playing_.clear();
    return MMSYSERR_NOERROR;
}

MMRESULT OutputDevice::close() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!playing_.empty()) return MIDIERR_STILLPLAYING;
    }
    link_.reset();
    return MMSYSERR_NOERROR;
}

}  // namespace winmm_face
