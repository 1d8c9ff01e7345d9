#pragma once

#include <atomic>
#include <cstdint>

#include "midi_api.h"

constexpr uint16_t kReplyBufferSize = 200;

// The MIDI link's one process-wide state: both ports and the reply slot.
//
// The reply slot is handed from the MIDI service's callback thread to the main thread through the
// reply count alone. The callback copies reply byte 1 into replyCode before it publishes the
// count, so a consumer that sees a count above 1 reads a code that belongs to a whole reply.
struct MidiPort {
    HMIDIIN inHandle;
    std::atomic<uint8_t> inOpen;  // 1 while reception is armed; the callback re-queues only then
    HMIDIOUT outHandle;
    uint8_t outOpen;
    MIDIHDR inputHeader;
    char replyBuffer[kReplyBufferSize];
    std::atomic<int16_t> replyCount;  // bytes of the last completed input buffer; 0 = nothing new
    std::atomic<uint8_t> replyCode;   // reply buffer byte 1 of that buffer
    MIDIHDR outputHeader;
};

extern MidiPort midiPort;

// Opens the first input device from startIndex on whose name does not begin with "Microsoft",
// arms reception and starts it. Returns the platform result, 0 on success.
MMRESULT openMidiIn(UINT startIndex);

// Opens the first output device from startIndex on whose name does not begin with "Microsoft".
MMRESULT openMidiOut(UINT startIndex);

// Return 1 if a port was open and has been closed, 0 if there was nothing to close.
int closeMidiIn();
int closeMidiOut();

// The input callback the platform's MIDI service calls on its own thread.
void CALLBACK onMidiInput(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                          DWORD_PTR param2);

// Reply slot, as the protocol uses it: the count as last published, and taking a reply (count set
// to 0) to read its code.
int16_t replyCountNow();
uint8_t takeReplyCode();
