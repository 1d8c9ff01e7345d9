#include "output_device.h"

#include <utility>

namespace midi_backend {

OutputDevice::OutputDevice(MessageSender sender) : sender_(std::move(sender)) {}

MMRESULT OutputDevice::prepareHeader(MIDIHDR* header, UINT headerSize) {
    if (header == nullptr || headerSize < sizeof(MIDIHDR) || header->lpData == nullptr)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(mutex_);
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT OutputDevice::unprepareHeader(MIDIHDR* header, UINT headerSize) {
    if (header == nullptr || headerSize < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(mutex_);
    // Sends finish before they return, so a header is never still playing here.
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT OutputDevice::longMsg(MIDIHDR* header, UINT headerSize) {
    if (header == nullptr || headerSize < sizeof(MIDIHDR) || header->lpData == nullptr)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
    header->dwFlags &= ~MHDR_DONE;
    const bool sent =
        sender_(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength);
    header->dwFlags |= MHDR_DONE;
    return sent ? MMSYSERR_NOERROR : MIDIERR_NOTREADY;
}

}  // namespace midi_backend
