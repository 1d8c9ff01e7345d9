// An open MIDI Out device as the program sees it: a header sent is in the port's hands until the
// port says it has played out, which may be before the send returns or later; until then it
// cannot be unprepared, and the device cannot be closed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/midi_api.h"
#include "platform/winmm_face/device_base.h"
#include "platform/winmm_face/port_system.h"

namespace winmm_face {

class OutputDevice : public DeviceBase<HMIDIOUT__>,
                     public std::enable_shared_from_this<OutputDevice> {
  public:
    explicit OutputDevice(std::unique_ptr<OutputPortLink> link);

    MMRESULT unprepareHeader(MIDIHDR* header, UINT headerSize);
    MMRESULT longMsg(MIDIHDR* header, UINT headerSize);
    // Cuts off what is still playing and hands its headers back.
    MMRESULT reset();
    // Refused while a message is still playing; otherwise the port is closed.
    MMRESULT close();

  private:
    struct Playing {
        uint64_t send;
        MIDIHDR* header;
    };

    // The port's word that a send has played out; a send cut off by a reset is no longer known.
    void playedOut(uint64_t send);

    std::unique_ptr<OutputPortLink> link_;
    std::vector<Playing> playing_;
    uint64_t nextSend_ = 0;
};

}  // namespace winmm_face
