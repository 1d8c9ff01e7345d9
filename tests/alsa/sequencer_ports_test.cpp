// Which sequencer ports become devices and in what order, and where a port is on the sequencer.
#include "platform/alsa/sequencer_ports.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using winmm_face::PortInfo;

struct ListCase {
    const char* name;
    std::vector<std::string> ports;
    std::vector<std::pair<unsigned, std::string>> expected;  // port number, name
};

TEST(SequencerPorts, PortsThatAreDevices) {
    const std::string through = "Midi Through:Midi Through Port-0 14:0";
    const std::string brevanto = "Brevanto:Brevanto MIDI 128:0";
    const std::string synth = "Synth:Synth In 130:0";
    const std::string ownIn = "talveron-update:talveron-update In 131:0";
    const std::vector<ListCase> cases = {
        {"no sequencer", {}, {}},
        {"only the kernel's loopback", {through}, {}},
        {"loopback first, device keeps its port number", {through, brevanto}, {{1, brevanto}}},
        {"order as listed", {brevanto, through, synth}, {{0, brevanto}, {2, synth}}},
        {"our own port is no device", {through, brevanto, ownIn}, {{1, brevanto}}},
        {"a client merely named like the loopback stays",
         {"Midi Through Box:Port 1 20:0"},
         {{0, "Midi Through Box:Port 1 20:0"}}},
        {"a client merely named like us stays",
         {"talveron-updater:x 40:0"},
         {{0, "talveron-updater:x 40:0"}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<unsigned, std::string>> got;
        for (const PortInfo& port : alsa::devicePorts(c.ports))
            got.emplace_back(port.number, port.name);
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST(SequencerPorts, SequencerAddressEndsThePortName) {
    struct AddressCase {
        std::string name;
        bool ok;
        int client;
        int port;
    };
    const std::vector<AddressCase> cases = {
        {"Brevanto:Brevanto MIDI 128:0", true, 128, 0},
        {"Midi Through:Midi Through Port-0 14:0", true, 14, 0},
        {"X:Y 20:3", true, 20, 3},
        {"20:3", true, 20, 3},
        {"Brevanto:Brevanto MIDI", false, 0, 0},
        {"X:Y 20:3x", false, 0, 0},
        {"X:Y 20", false, 0, 0},
        {"X:Y -1:0", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto& c : cases) {
        int client = 0;
        int port = 0;
        EXPECT_EQ(alsa::sequencerAddress(c.name, client, port), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(client, c.client) << c.name;
            EXPECT_EQ(port, c.port) << c.name;
        }
    }
}

}  // namespace
