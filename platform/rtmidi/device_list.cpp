#include "device_list.h"

#include <cstdio>
#include <cstring>

namespace midi_backend {

namespace {

// The kernel's loopback client, present wherever the sequencer is: it is no device.
constexpr const char* kMidiThroughClient = "Midi Through:";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::vector<DevicePort> devicePorts(const std::vector<std::string>& portNames) {
    const std::string ownClient = std::string(kOwnClientName) + ":";
    std::vector<DevicePort> devices;
    for (unsigned i = 0; i < portNames.size(); ++i) {
        const std::string& name = portNames[i];
        if (startsWith(name, kMidiThroughClient) || startsWith(name, ownClient)) continue;
        devices.push_back({i, name});
    }
    return devices;
}

void copyProductName(const std::string& name, CHAR (&productName)[MAXPNAMELEN]) {
    const size_t length = name.size() < MAXPNAMELEN - 1 ? name.size() : MAXPNAMELEN - 1;
    std::memcpy(productName, name.data(), length);
    std::memset(productName + length, 0, MAXPNAMELEN - length);
}

bool sequencerAddress(const std::string& portName, int& client, int& port) {
    const size_t space = portName.rfind(' ');
    const std::string address = space == std::string::npos ? portName : portName.substr(space + 1);
    char rest = 0;
    return std::sscanf(address.c_str(), "%d:%d%c", &client, &port, &rest) == 2 && client >= 0 &&
           port >= 0;
}

}  // namespace midi_backend
