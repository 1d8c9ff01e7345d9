#pragma once

#include "common/stage_result.h"

// Opening the ports: the first usable MIDI In port, armed and receiving, then the first usable MIDI
// Out port. Either port may be left open on a stop; the run's end path closes both.
StageResult openMidiPorts();
