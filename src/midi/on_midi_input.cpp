#include "midi/midi_port.h"

void CALLBACK onMidiInput(HMIDIIN /*handle*/, UINT message, DWORD_PTR /*instance*/,
                          DWORD_PTR param1, DWORD_PTR /*param2*/) {
    // Short messages, open/close and error notices carry no reply. An input buffer handed back
    // with an error notice is not queued again, so no later reply reaches the slot.
    if (message != MIM_LONGDATA) {
        return;
    }
    MIDIHDR* header = reinterpret_cast<MIDIHDR*>(param1);
    midiPort.replyCode.store(static_cast<uint8_t>(midiPort.replyBuffer[1]));
    midiPort.replyCount.store(static_cast<int16_t>(static_cast<uint16_t>(header->dwBytesRecorded)));

    // Re-arm at once, from inside the callback, so that the next System Exclusive message lands in
    // the same buffer. The platform warns against calling the MIDI service from its callback
    // because some calls (close, reset) wait for the callback thread and would deadlock; prepare,
    // unprepare and add do not wait for it, and re-queuing later from the main thread would leave
    // a window in which a reply finds no buffer and is lost. The buffer a close hands back with a
    // reset comes here with in open already cleared, so it is never queued again.
    if (midiPort.inOpen.load() == 1) {
        midiInUnprepareHeader(midiPort.inHandle, header, sizeof *header);
        midiInPrepareHeader(midiPort.inHandle, header, sizeof *header);
        midiInAddBuffer(midiPort.inHandle, header, sizeof *header);
    }
}
