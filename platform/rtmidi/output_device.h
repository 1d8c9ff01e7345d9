// An open MIDI Out device as the program sees it: headers are prepared, sent whole and played out
// by the time the send returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "midi_api.h"
#include "winmm_model/winmm_model.h"

namespace midi_backend {

// Sends one message on the port; false when the port refused it.
using MessageSender = std::function<bool(const uint8_t* bytes, size_t count)>;

class OutputDevice {
  public:
    explicit OutputDevice(MessageSender sender);
    OutputDevice(const OutputDevice&) = delete;
    OutputDevice& operator=(const OutputDevice&) = delete;

    HMIDIOUT handle() { return &handleTag_; }

    MMRESULT prepareHeader(MIDIHDR* header, UINT headerSize);
    MMRESULT unprepareHeader(MIDIHDR* header, UINT headerSize);
    MMRESULT longMsg(MIDIHDR* header, UINT headerSize);

  private:
    HMIDIOUT__ handleTag_{};
    MessageSender sender_;
    std::mutex mutex_;
};

}  // namespace midi_backend
