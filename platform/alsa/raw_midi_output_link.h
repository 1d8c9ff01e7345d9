// An output straight on a sound card's raw MIDI port, as amidi sends. The sequencer's bridge to
// such a port takes a message at once and keeps it in a buffer of one page, dropping what does
// not fit while a slow cable plays it out; here a send returns only once the message has left
// the port, so the program's pacing holds at any cable speed.
#pragma once

#include <memory>
#include <string>

#include "platform/winmm_face/port_system.h"

namespace alsa {

// Opens the raw MIDI output device ("hw:1,0,0") for sending; null, with ALSA's negative error
// code in error, when it cannot be opened.
std::unique_ptr<winmm_face::OutputPortLink> openRawMidiOutput(const std::string& device,
                                                              int& error);

}  // namespace alsa
