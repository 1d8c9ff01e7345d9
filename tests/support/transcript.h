#pragma once

// The texts of whole runs that the tests and benchmarks expect byte for byte: the banner, the
// key-press prompt and the pieces of the emulated device's transcripts. Written here once; the
// product prints them from src/common/console_text.cpp and the platform's pause.
#include <string>

namespace transcript {

const std::string kBanner = "TALVERON Update V0.5 -> TALVERON Brevanto System\n";
// The key-press prompt as the terminal shows it while the program waits for a key...
const std::string kKeyPrompt = "Press any key to continue . . . ";
// ...and as a transcript ends: standard input at its end stands for the key, and a line break
// follows.
const std::string kPrompt = kKeyPrompt + "\n";

const std::string kOpen = "OK: File 'Brevanto.kit' is open.\n";
const std::string kUpgradeError = "Error: The upgrade file is error!\n\n";
const std::string kMidiInMissing = "Error: The MIDI In of device is missing!\n\n";
// The default emulated ports: one In, then the system synth and the device on Out.
const std::string kPorts =
    "MIDI IN DEVICE: TALVERON Device\r\n"
    "MIDI OUT DEVICE: TALVERON Device\r\n"
    "MIDI OUT DEVICE: TALVERON Device\r\n";
const std::string kHead = kBanner + kOpen + kPorts;
const std::string kDone = "\rTransferring.. 100% done.  \nTarget update successfully!\n\n";
const std::string kNotResponding = "\nFailed: Target is not responding.\n\n";

inline std::string progress(char spinner, int percent) {
    return "\r                        \rTransferring.. " + std::string(1, spinner) + " " +
           std::to_string(percent) + "% done";
}

inline std::string times(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace transcript
