#pragma once

#include <cstdint>

#include "platform/midi_api.h"

// MIDI In: the input port, the callback that receives the device's replies, and the reply slot
// the callback fills. The port's state lives in midiPort (midi/midi_port.h).

// Opens the first input device from startIndex on whose name does not begin with "Microsoft",
// arms reception and starts it. Returns the platform result, 0 on success.
MMRESULT openMidiIn(UINT startIndex);

// Opens input device index, the one the user chose by the name given, whatever that name begins
// with; arms reception and starts it. A device of that index that no longer has that name is not
// opened (MMSYSERR_BADDEVICEID).
MMRESULT openChosenMidiIn(UINT index, const char* name);

// Returns 1 if the port was open and has been closed, 0 if there was nothing to close.
int closeMidiIn();

// The input callback the platform's MIDI service calls on its own thread.
void CALLBACK onMidiInput(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                          DWORD_PTR param2);

// Reply slot, as the protocol uses it: the count as last published, taking a reply (count set to
// 0) to read its code, and discarding whatever the slot holds (returns the count it held).
int16_t replyCountNow();
uint8_t takeReplyCode();
int16_t discardReply();

// Every System Exclusive reply received so far, counted, with the code of the last one; read in
// one piece, so the code always belongs to the reply that made the count.
struct ReplyTally {
    uint32_t received;  // counts on from where it stands when the port opens; wraps at 2^24
    uint8_t lastCode;
};
ReplyTally replyTallyNow();

// Replies received between two readings of the tally's count.
inline uint32_t repliesBetween(uint32_t earlier, uint32_t later) {
    return (later - earlier) & 0xFFFFFFu;
}
