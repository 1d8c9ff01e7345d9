#pragma once

#include "common/stage_result.h"
#include "platform/midi_device_list.h"

// A device the user chose for one direction, by its index and the name it had when chosen.
struct ChosenPort {
    bool chosen;  // false: the first device not named "Microsoft..." is taken, as ever
    UINT index;
    char name[kMidiDeviceNameSize];
};

struct PortChoice {
    ChosenPort in;
    ChosenPort out;
};

// Opening the ports: the MIDI In port, armed and receiving, then the MIDI Out port, each the one
// chosen or else the first usable one. Either port may be left open on a stop; the run's end path
// closes both.
StageResult openMidiPorts(const PortChoice& choice);
