// What an open device of either direction has: the handle the program holds, the lock over the
// device's state, and header preparation, which winmm does alike for In and Out.
#pragma once

#include <mutex>

#include "platform/midi_api.h"
#include "platform/winmm_face/winmm_model.h"

namespace winmm_face {

// HandleTag is HMIDIIN__ or HMIDIOUT__. Never used on its own, so never deleted through it.
template <typename HandleTag>
class DeviceBase {
  public:
    DeviceBase(const DeviceBase&) = delete;
    DeviceBase& operator=(const DeviceBase&) = delete;

    // The handle the program holds: the address of a member, so it stays valid while the device
    // lives.
    HandleTag* handle() { return &handleTag_; }

    MMRESULT prepareHeader(MIDIHDR* header, UINT headerSize) {
        std::lock_guard<std::mutex> lock(stateMutex_);
        return winmm_model::prepareHeader(header, headerSize);
    }

  protected:
    DeviceBase() = default;
    ~DeviceBase() = default;

    std::mutex stateMutex_;

  private:
    HandleTag handleTag_{};
};

}  // namespace winmm_face
