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

    // Re-arm at once so that the next System Exclusive message lands in the same buffer.
    if (midiPort.inOpen.load() == 1) {
        midiInUnprepareHeader(midiPort.inHandle, header, sizeof *header);
        midiInPrepareHeader(midiPort.inHandle, header, sizeof *header);
        midiInAddBuffer(midiPort.inHandle, header, sizeof *header);
    }
}
