#include "midi/midi_port.h"

int closeMidiIn() {
    if (midiPort.inOpen.load() == 0) {
        return 0;
    }
    // Cleared first, so that a callback still under way does not queue the buffer again.
    midiPort.inOpen.store(0);
    // The service refuses to close an input device while a buffer is queued: take it back first.
    // None of these results changes what is left to do, so none is examined.
    midiInReset(midiPort.inHandle);
    midiInUnprepareHeader(midiPort.inHandle, &midiPort.inputHeader, sizeof midiPort.inputHeader);
    midiInClose(midiPort.inHandle);
    return 1;
}
