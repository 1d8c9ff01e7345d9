#include "midi/midi_port.h"

int closeMidiOut() {
    if (midiPort.outOpen == 0) {
        return 0;
    }
    midiPort.outOpen = 0;
    // Every message has played out or been reset by now, so nothing is left to wait for.
    midiOutClose(midiPort.outHandle);
    return 1;
}
