// An output port straight on the ALSA sequencer. RtMidi runs every outgoing message through
// ALSA's MIDI byte encoder, which drops a System Exclusive message whose data bytes are not all
// below 0x80 (as in the handshake's first probe); a sequencer SysEx event carries them unchanged.
#pragma once

#include <memory>

#include "platform/winmm_face/port_system.h"

namespace alsa {

// Opens a port of our own, subscribed to the sequencer port at client:port; null when the
// sequencer or the port is not there.
std::unique_ptr<winmm_face::OutputPortLink> openAlsaOutput(int client, int port);

}  // namespace alsa
