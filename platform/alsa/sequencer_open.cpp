#include "platform/alsa/sequencer_open.h"

#include <mutex>

namespace alsa {

namespace {

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void silenceAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaError); });
}

int openSequencer(snd_seq_t** seq, int streams) {
    silenceAlsaErrors();
    return snd_seq_open(seq, "default", streams, 0);
}

}  // namespace alsa
