#pragma once

#include "driver/open_midi_ports.h"
#include "driver/parse_command_line.h"

// The ports the options name (--port, --in, --out), chosen from the devices listed now, before any
// is opened. A name that fits no device or more than one, or a number past the last device, is
// refused on standard error with the devices it could mean: false.
bool choosePorts(const char* programName, const RunOptions& options, PortChoice& choice);
