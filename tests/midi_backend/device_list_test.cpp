// Which sequencer ports become devices, in what order and under what product name.
#include "device_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using midi_backend::DevicePort;

struct ListCase {
    const char* name;
    std::vector<std::string> ports;
    std::vector<std::pair<unsigned, std::string>> expected;  // port number, name
};

TEST(DeviceList, PortsThatAreDevices) {
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
        for (const DevicePort& port : midi_backend::devicePorts(c.ports))
            got.emplace_back(port.portNumber, port.name);
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST(DeviceList, ProductNameIsCutToWhatTheCapsHold) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"Brevanto:Brevanto MIDI 128:0", "Brevanto:Brevanto MIDI 128:0"},
        {std::string(31, 'a'), std::string(31, 'a')},
        {std::string(32, 'b'), std::string(31, 'b')},
        {"A very long client name:and an even longer port name 129:3",
         "A very long client name:and an "},
    };
    for (const auto& [port, expected] : cases) {
        CHAR productName[MAXPNAMELEN];
        std::memset(productName, 'x', sizeof productName);
        midi_backend::copyProductName(port, productName);
        EXPECT_EQ(std::string(productName), expected) << port;
        // Nothing of an earlier, longer name is left behind the terminator.
        for (size_t i = expected.size(); i < sizeof productName; ++i)
            EXPECT_EQ(productName[i], '\0') << port << " at " << i;
    }
}

TEST(DeviceList, SequencerAddressEndsThePortName) {
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
        EXPECT_EQ(midi_backend::sequencerAddress(c.name, client, port), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(client, c.client) << c.name;
            EXPECT_EQ(port, c.port) << c.name;
        }
    }
}

}  // namespace
