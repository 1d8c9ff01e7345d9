#pragma once

// The MIDI In and MIDI Out devices, one a line with their numbers and names as the platform gives
// them, marking those a run with no device named takes. With no device at all, the platform says
// why on standard error where it can.
void printMidiDevices();
