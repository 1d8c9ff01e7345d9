#include "midi/midi_port.h"

MidiPort midiPort;
