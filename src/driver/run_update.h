#pragma once

#include "driver/open_midi_ports.h"

// What a run takes other than the first *.kit file and the first usable ports, as the user chose.
struct RunChoice {
    const char* kitFile;  // null: the first *.kit file of the current directory
    PortChoice ports;
};

// One update run from banner to key press. Always returns the exit status 0: the outcome is told
// on standard output (and by runOutcome, common/run_outcome.h).
int runUpdate();
int runUpdate(const RunChoice& choice);
