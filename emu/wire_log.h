#pragma once

// What the emulated device's Out port accepted, as the simulator and brevanto-device log it.
#include <cstdint>
#include <string>
#include <vector>

namespace emu {

// What one Out device accepted, in the order of acceptance.
struct SentMessage {
    unsigned outDevice;
    std::vector<uint8_t> bytes;
};

// One line per accepted message: upper-case two-digit hex bytes separated by single spaces.
std::string wireLogText(const std::vector<SentMessage>& messages);

// Writes text to the file at path, replacing it; false if any of it could not be written.
bool writeFile(const std::string& path, const std::string& text);

}  // namespace emu
