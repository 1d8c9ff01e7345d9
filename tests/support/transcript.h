#pragma once

// The texts of whole runs that the tests and benchmarks expect byte for byte, put together from
// tests/golden/ (tests/support/golden.h, made by CMake), the texts every check reads. The product
// prints them from src/common/console_text.cpp and the platform's pause.
#include <string>
#include <string_view>

#include "tests/support/golden.h"

namespace transcript {

// TEXT with every FROM in it replaced by TO.
inline std::string replaced(std::string_view text, std::string_view from, const std::string& to) {
    std::string out(text);
    for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size())) {
        out.replace(at, from.size(), to);
    }
    return out;
}

// A golden line without its line break, as the programs' own callers see it.
inline std::string line(std::string_view golden) {
    return std::string(golden.substr(0, golden.size() - 1));
}
// A message and the empty line after it, as most messages stand in a transcript.
inline std::string last(std::string_view golden) {
    return std::string(golden) + "\n";
}
// A message after the progress line: a line break ends that line first.
inline std::string afterProgress(std::string_view golden) {
    return "\n" + std::string(golden);
}

const std::string kBanner{golden::kBanner};
// The key-press prompt as a transcript ends: standard input at its end stands for the key, and a
// line break follows...
const std::string kPrompt{golden::kPrompt};
// ...and as the terminal shows it while the program waits for a key.
const std::string kKeyPrompt = line(golden::kPrompt);

inline std::string opened(const std::string& kit) {
    return replaced(golden::kFileOpen, "%s", kit);
}
// The kit named, or the pattern searched for, is not there.
inline std::string notFound(const std::string& kit) {
    return last(replaced(golden::kKitNotFound, "*.kit", kit));
}
const std::string kOpen = opened("Brevanto.kit");
// The kit's stages stop with one message and an empty line...
const std::string kKitNotFound = last(golden::kKitNotFound);
const std::string kFitNotFound = last(golden::kFitNotFound);
const std::string kUpgradeError = last(golden::kUpgradeError);

// ...and so do the ports' when a device is missing.
const std::string kMidiInMissing = last(golden::kMidiInMissing);
const std::string kMidiOutMissing = last(golden::kMidiOutMissing);
const std::string kPortIn{golden::kPortIn};
const std::string kPortOut{golden::kPortOut};
// The default emulated ports: one In, then the system synth and the device on Out.
const std::string kPorts = kPortIn + kPortOut + kPortOut;
const std::string kHead = kBanner + kOpen + kPorts;

// Two of the handshake's endings; a silent device's comes after the progress line.
const std::string kNotMatched = last(golden::kNotMatched);
const std::string kNotResponding = last(afterProgress(golden::kNotResponding));

// The transfer's: the last progress line and success, a restart after them, and the update
// error and the CRC verdict, each on the line after the progress line.
const std::string kSuccess = last(golden::kSuccess);
const std::string kDone = std::string(golden::kTransferDone) + kSuccess;
const std::string kRestart = kDone + last(golden::kRestart);
const std::string kUpdateError = afterProgress(golden::kUpdateError);
const std::string kCrc = afterProgress(golden::kCrcError);

// What the product built without a MIDI library says on standard error, after its name.
const std::string kNoMidiLibrary{golden::kNoMidiLibrary};

inline std::string progress(char spinner, int percent) {
    return replaced(replaced(golden::kProgress, "%s", std::string(1, spinner)), "%d%%",
                    std::to_string(percent) + "%");
}

inline std::string times(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace transcript
