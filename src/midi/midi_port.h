#pragma once

#include <atomic>
#include <cstdint>

#include "platform/midi_api.h"

constexpr uint16_t kReplyBufferSize = 200;

// The MIDI link's one process-wide state: both ports and the reply slot.
//
// The reply slot is handed from the MIDI service's callback thread to the main thread through the
// reply count alone. The callback copies reply byte 1 into replyCode before it publishes the
// count, so a consumer that sees a count above 1 reads a code that belongs to a whole reply.
//
// Replies carry no sequence number, and two that land between two polls leave one trace in the
// slot. So the callback also keeps a tally of every reply, with the last one's code in the same
// word: one load tells how many replies have come and what the last one said.
struct MidiPort {
    HMIDIIN inHandle;
    std::atomic<uint8_t> inOpen;  // 1 while reception is armed; the callback re-queues only then
    HMIDIOUT outHandle;
    uint8_t outOpen;
    MIDIHDR inputHeader;
    char replyBuffer[kReplyBufferSize];
    std::atomic<int16_t> replyCount;   // bytes of the last completed input buffer; 0 = nothing new
    std::atomic<uint8_t> replyCode;    // reply buffer byte 1 of that buffer
    std::atomic<uint32_t> replyTally;  // replies so far (bits 8 to 31), last reply's code (0 to 7)
    MIDIHDR outputHeader;
};

extern MidiPort midiPort;
