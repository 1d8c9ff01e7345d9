// Which sequencer ports are a sound card's MIDI ports, reached through the sequencer's bridge to
// raw MIDI, and the raw MIDI device behind each. Other programs' ports (the emulated device
// among them) have none: for them a message is sent once the receiving program has it.
#pragma once

#include <string>

namespace alsa {

// The raw MIDI device ("hw:CARD,DEVICE,SUBDEVICE") behind the sequencer port client:port, or
// false when the port is not a sound card's MIDI port.
bool rawMidiDeviceOf(int client, int port, std::string& device);

// The line (without its line feed) saying that the raw MIDI device behind portName could not be
// opened (ALSA's negative error code) and that messages go through the sequencer instead.
std::string sequencerFallbackNote(const std::string& portName, const std::string& device,
                                  int openError);

}  // namespace alsa
