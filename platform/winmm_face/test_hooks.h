// The winmm face's hooks for the tests and the emulated service that watch what the program does
// with its devices, beside the winmm names of midi_api.h it defines (winmm_face.cpp). The program
// itself never calls them.
#pragma once

#include <cstddef>
#include <string>

#include "platform/midi_api.h"

namespace winmm_face {

// Watches the program's calls; called on the calling thread, with no lock of the face held.
class CallObserver {
  public:
    // A call that opens, starts, resets or closes a device: "midiInOpen 0", "midiInStart"...
    virtual void called(const std::string& call) = 0;
    // A notice for the In device open on that port, whether or not a callback takes it.
    virtual void notified(unsigned port, UINT kind) = 0;

  protected:
    ~CallObserver() = default;
};

// Null: no observer.
void observeCalls(CallObserver* observer);
CallObserver* callObserver();

// How many buffers the program has queued on the In device open on that port; 0 when none is.
size_t queuedInputBuffers(unsigned port);

}  // namespace winmm_face
