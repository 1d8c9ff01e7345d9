// An open MIDI Out device as the program sees it: headers are prepared, sent whole and played out
// by the time the send returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "device_base.h"
#include "midi_api.h"

namespace midi_backend {

// Sends one message on the port; false when the port refused it.
using MessageSender = std::function<bool(const uint8_t* bytes, size_t count)>;

class OutputDevice : public DeviceBase<HMIDIOUT__> {
  public:
    explicit OutputDevice(MessageSender sender);

    MMRESULT unprepareHeader(MIDIHDR* header, UINT headerSize);
    MMRESULT longMsg(MIDIHDR* header, UINT headerSize);

  private:
    MessageSender sender_;
};

}  // namespace midi_backend
