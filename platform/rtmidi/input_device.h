// An open MIDI In device as the program sees it: its queue of buffers, start and stop, and the
// callback notices. Complete messages come in from the port's own thread through deliver().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "device_base.h"
#include "midi_api.h"
#include "winmm_model/winmm_model.h"

namespace midi_backend {

typedef void(CALLBACK* MidiInCallback)(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                       DWORD_PTR param1, DWORD_PTR param2);

class InputDevice : public DeviceBase<HMIDIIN__> {
  public:
    // A null callback means the program asked for no notices.
    InputDevice(MidiInCallback callback, DWORD_PTR instance);

    MMRESULT unprepareHeader(MIDIHDR* header, UINT headerSize);
    MMRESULT addBuffer(MIDIHDR* header, UINT headerSize);
    MMRESULT start();
    // Stops input and hands every queued buffer back as it stands.
    MMRESULT reset();
    // Refused while a buffer is queued; otherwise no message is taken from then on.
    MMRESULT beginClose();

    // One complete message from the port, System Exclusive ones whole. Called on the port's
    // thread; the callback runs on it too and may queue buffers again from inside.
    void deliver(const uint8_t* bytes, size_t count);

    void notifyOpen() { notify(MIM_OPEN, 0, 0); }
    void notifyClose() { notify(MIM_CLOSE, 0, 0); }

  private:
    struct Notice {
        UINT message;
        DWORD_PTR param1;
        DWORD_PTR param2;
    };

    DWORD millisecondsSinceStart() const;
    void notify(UINT message, DWORD_PTR param1, DWORD_PTR param2);
    void notifyAll(const std::vector<Notice>& notices);

    const MidiInCallback callback_;
    const DWORD_PTR instance_;
    // Taken before stateMutex_ and held while the callback runs, so that notices reach the
    // program one at a time and in order. Recursive: the callback may reset its own device.
    std::recursive_mutex callbackMutex_;
    winmm_model::BufferQueue queue_;
    bool started_ = false;
    bool closing_ = false;
    std::chrono::steady_clock::time_point startTime_;
};

}  // namespace midi_backend
