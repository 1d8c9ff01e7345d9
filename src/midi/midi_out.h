#pragma once

#include <cstdint>

#include "platform/midi_api.h"
#include "protocol/timing.h"

constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;
// One full hex chunk: 23 image bytes as two characters each.
constexpr uint16_t kFullChunkBytes = 23;
constexpr uint16_t kMaxSysExPayload = 2 * kFullChunkBytes;
static_assert(kMaxSysExPayload == 46, "a message carries 46 characters at most");

// MIDI Out: the output port and System Exclusive sending. The port's state lives in midiPort
// (midi/midi_port.h).

// Opens the first output device from startIndex on whose name does not begin with "Microsoft".
MMRESULT openMidiOut(UINT startIndex);

// Opens output device index, the one the user chose by the name given, whatever that name begins
// with. A device of that index that no longer has that name is not opened (MMSYSERR_BADDEVICEID).
MMRESULT openChosenMidiOut(UINT index, const char* name);

// Returns 1 if the port was open and has been closed, 0 if there was nothing to close.
int closeMidiOut();

// Sends F0, the payload bytes unchanged, F7 as one System Exclusive message on the open output
// port, and returns once it has played out. Returns the platform result, 0 on success; a payload
// of 0 or more than 46 bytes is refused with MMSYSERR_INVALPARAM.
MMRESULT sendSysEx(const uint8_t* payload, uint16_t payloadBytes);
