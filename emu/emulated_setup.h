#pragma once

// Lays out the emulated MIDI service as the options say and attaches the emulated device.
#include <cstdio>
#include <memory>
#include <string>

#include "emu/emulated_brevanto.h"
#include "emu/emulated_midi_service.h"
#include "emu/sim_options.h"
#include "emu/wire_log.h"

namespace emu {

// Returns the attached device, or null when none is attached.
std::shared_ptr<BrevantoDevice> setUpEmulation(const SimOptions& options);

}  // namespace emu
