#pragma once

// Options of talveron-update-sim: the emulated ports, the emulated device's behaviour and the
// wire log.
#include <string>
#include <vector>

#include "emu/emulated_brevanto.h"
#include "emu/link_noise.h"

namespace emu {

struct SimOptions {
    std::vector<std::string> inPorts{"Brevanto MIDI"};
    std::vector<std::string> outPorts{"Microsoft GS Wavetable Synth", "Brevanto MIDI"};
    std::string devicePort = "Brevanto MIDI";  // "none": no device attached
    DeviceScript script;
    LinkNoise noise;
    int busyMs = 0;
    long linkRate = 0;        // bytes a second on every Out device's link; 0: no speed of its own
    bool driverSync = false;  // midiOutLongMsg returns once the message has played out
    long unplugAfter = -1;    // -1: never
    int delayMs = 0;
    std::string wireLog;  // empty: none
    std::string flashed;  // empty: none
    bool virtualTime = false;
};

// Parses the command line (without the program name). On a bad option returns false with a
// one-line reason in error.
bool parseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

// Takes the option at args[i], as "--name value" or "--name=value", and moves i to its last
// argument. False, with a one-line reason in error, when the value is missing.
bool takeOption(const std::vector<std::string>& args, size_t& i, std::string& name,
                std::string& value, std::string& error);

extern const char* const kSimUsage;

}  // namespace emu
