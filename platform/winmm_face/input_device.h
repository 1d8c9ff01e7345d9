// An open MIDI In device as the program sees it: its queue of buffers, start and stop, and the
// callback notices. Messages come in from the port's own thread through deliver().
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/midi_api.h"
#include "platform/winmm_face/device_base.h"
#include "platform/winmm_face/winmm_model.h"

namespace winmm_face {

typedef void(CALLBACK* MidiInCallback)(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                       DWORD_PTR param1, DWORD_PTR param2);

class InputDevice : public DeviceBase<HMIDIIN__> {
  public:
    // port: the port system's number for the port, as the call observer names it. A null
    // callback means the program asked for no notices.
    InputDevice(unsigned port, MidiInCallback callback, DWORD_PTR instance);

    unsigned port() const { return port_; }
    size_t queuedBuffers();

    MMRESULT unprepareHeader(MIDIHDR* header, UINT headerSize);
    MMRESULT addBuffer(MIDIHDR* header, UINT headerSize);
    MMRESULT start();
    // Stops input and hands every queued buffer back as it stands.
    MMRESULT reset();
    // Refused while a buffer is queued; otherwise no message is taken from then on.
    MMRESULT beginClose();

    // One complete message from the port, System Exclusive ones whole; damaged: it arrived
    // broken. Called on the port's thread; the callback runs on it too and may queue buffers
    // again from inside.
    void deliver(const uint8_t* bytes, size_t count, bool damaged);

    void notifyOpen() { notify(MIM_OPEN, 0, 0); }
    void notifyClose() { notify(MIM_CLOSE, 0, 0); }

  private:
    // Milliseconds since input started, on the program's own clock; 0 before it started.
    DWORD_PTR timestamp();
    void deliverDamaged(const uint8_t* bytes, size_t count);
    void notify(UINT message, DWORD_PTR param1, DWORD_PTR param2);

    const unsigned port_;
    const MidiInCallback callback_;
    const DWORD_PTR instance_;
    // Taken before stateMutex_ and held while the callback runs, so that notices reach the
    // program one at a time and in order. Recursive: the callback may reset its own device.
    std::recursive_mutex callbackMutex_;
    winmm_model::BufferQueue queue_;
    bool started_ = false;
    bool closing_ = false;
    LONGLONG startCount_ = 0;
};

}  // namespace winmm_face
