// Which sequencer ports the MIDI service offers as devices, and under what name.
#pragma once

#include <string>
#include <vector>

#include "midi_api.h"

namespace midi_backend {

// The sequencer client name the service's own ports are made under. Its ports are never offered
// as devices: opening an In device makes a writable port that would otherwise show up as an Out.
constexpr const char* kOwnClientName = "talveron-update";

struct DevicePort {
    unsigned portNumber;  // the port's position in the list it came from
    std::string name;
};

// The devices among the named ports, in their order: the kernel's "Midi Through" ports and the
// service's own ports are left out. Names are as the port lister gives them,
// "client:port client-number:port-number".
std::vector<DevicePort> devicePorts(const std::vector<std::string>& portNames);

// The product name as the caps structure holds it: cut to 31 characters and terminated.
void copyProductName(const std::string& name, CHAR (&productName)[MAXPNAMELEN]);

// Reads the sequencer address, "client:port", that ends a listed port name.
bool sequencerAddress(const std::string& portName, int& client, int& port);

}  // namespace midi_backend
