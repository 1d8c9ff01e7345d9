// Which sequencer ports are MIDI devices, and where a listed port is on the sequencer.
#pragma once

#include <string>
#include <vector>

#include "platform/winmm_face/port_system.h"

namespace alsa {

// The sequencer client name the port system's own ports are made under. Its ports are never
// offered as devices: opening an In device makes a writable port that would otherwise show up as
// an Out.
constexpr const char* kOwnClientName = "talveron-update";

// The devices among the named ports, in their order, each numbered by its position in the list:
// the kernel's "Midi Through" ports and our own ports are left out. Names are as RtMidi lists
// them, "client:port client-number:port-number".
std::vector<winmm_face::PortInfo> devicePorts(const std::vector<std::string>& portNames);

// Reads the sequencer address, "client:port", that ends a listed port name.
bool sequencerAddress(const std::string& portName, int& client, int& port);

}  // namespace alsa
