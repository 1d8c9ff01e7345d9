#include "output_device.h"

#include <utility>

#include "winmm_model/winmm_model.h"

namespace midi_backend {

OutputDevice::OutputDevice(MessageSender sender) : sender_(std::move(sender)) {}

MMRESULT OutputDevice::unprepareHeader(MIDIHDR* header, UINT headerSize) {
    if (header == nullptr || headerSize < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(stateMutex_);
    // Sends finish before they return, so a header is never still playing here.
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT OutputDevice::longMsg(MIDIHDR* header, UINT headerSize) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    const MMRESULT refused = winmm_model::bufferRefusal(header, headerSize);
    if (refused != MMSYSERR_NOERROR) return refused;
    header->dwFlags &= ~MHDR_DONE;
    const bool sent =
        sender_(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength);
    header->dwFlags |= MHDR_DONE;
    return sent ? MMSYSERR_NOERROR : MIDIERR_NOTREADY;
}

}  // namespace midi_backend
