// Why the ALSA sequencer offers no MIDI device: one line for standard error, so that a user can
// tell a missing sequencer, a denied one and an empty one apart. Standard output never changes.
#pragma once

#include <string>

namespace alsa {

// The sequencer's device node, as ALSA's "default" sequencer opens it.
constexpr const char* kSequencerNode = "/dev/snd/seq";

// The line (without its line feed) for a sequencer at nodePath whose opening returned openError:
// 0 when it opened and simply lists no device, else ALSA's negative error code.
std::string noDeviceDiagnosis(const char* nodePath, int openError);

// Opens the sequencer as the programs do and closes it again: 0, or ALSA's negative error code.
// ALSA's own report of a failure stays off the console.
int probeSequencer();

// Opens the sequencer to find out why, and prints the line on standard error, prefixed with the
// program's name; once per process, however often it is called.
void reportNoDevice();

}  // namespace alsa
