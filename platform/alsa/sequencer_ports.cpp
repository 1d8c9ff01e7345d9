#include "platform/alsa/sequencer_ports.h"

#include <cstdio>

namespace alsa {

namespace {

// The kernel's loopback client, present wherever the sequencer is: it is no device.
constexpr const char* kMidiThroughClient = "Midi Through:";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::vector<winmm_face::PortInfo> devicePorts(const std::vector<std::string>& portNames) {
    const std::string ownClient = std::string(kOwnClientName) + ":";
    std::vector<winmm_face::PortInfo> devices;
    for (unsigned i = 0; i < portNames.size(); ++i) {
        const std::string& name = portNames[i];
        if (startsWith(name, kMidiThroughClient) || startsWith(name, ownClient)) continue;
        devices.push_back({i, name});
    }
    return devices;
}

bool sequencerAddress(const std::string& portName, int& client, int& port) {
    const size_t space = portName.rfind(' ');
    const std::string address = space == std::string::npos ? portName : portName.substr(space + 1);
    char rest = 0;
    return std::sscanf(address.c_str(), "%d:%d%c", &client, &port, &rest) == 2 && client >= 0 &&
           port >= 0;
}

}  // namespace alsa
