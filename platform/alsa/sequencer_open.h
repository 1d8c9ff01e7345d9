#pragma once

// The one place our code opens the ALSA sequencer ("default") and keeps ALSA's own error reports
// off the console: the programs print only their own messages.
#include <alsa/asoundlib.h>

namespace alsa {

// Silences ALSA's error reports, then opens the sequencer for the streams given
// (SND_SEQ_OPEN_OUTPUT, SND_SEQ_OPEN_DUPLEX...). Returns 0, or ALSA's negative error code.
int openSequencer(snd_seq_t** seq, int streams);

// ALSA's error reports silenced for the process, once.
void silenceAlsaErrors();

}  // namespace alsa
