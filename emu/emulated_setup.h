#pragma once

// Lays out the emulated MIDI service as the options say and attaches the emulated device.
#include <cstdio>
#include <memory>
#include <string>

#include "emu/emulated_brevanto.h"
#include "emu/emulated_midi_service.h"
#include "emu/sim_options.h"

namespace emu {

// Returns the attached device, or null when none is attached.
std::shared_ptr<BrevantoDevice> setUpEmulation(const SimOptions& options);

// One line per accepted message: upper-case two-digit hex bytes separated by single spaces.
std::string wireLogText(const std::vector<SentMessage>& messages);

// Writes text to the file at path, replacing it; false if any of it could not be written.
bool writeFile(const std::string& path, const std::string& text);

}  // namespace emu
