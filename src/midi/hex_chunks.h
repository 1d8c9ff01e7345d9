#pragma once

#include <cstdint>

#include "midi/midi_out.h"
#include "platform/midi_api.h"
#include "protocol/timing.h"

// Image bytes travel as upper-case ASCII hex, kFullChunkBytes (midi/midi_out.h) a message at
// most, so every byte on the wire between F0 and F7 stays below 0x80.

// Writes the two characters of byte, high nibble first, to out[0] and out[1].
void hexEncodeByte(uint8_t byte, char* out);

// A record on its way out, chunk by chunk, for a sender that looks at the link between chunks.
struct HexChunks {
    const uint8_t* record;
    uint16_t recordBytes;
    uint16_t remaining;  // bytes not yet sent
};

inline HexChunks startHexChunks(const uint8_t* record, uint16_t recordBytes) {
    return HexChunks{record, recordBytes, recordBytes};
}

inline bool hexChunksLeft(const HexChunks& chunks) {
    return chunks.remaining > 0;
}

// Sends the next chunk: 23 bytes, or the short rest; then pauses 1 ms. Returns the failure of a
// full chunk. The last short chunk's result is not examined: its loss shows as a missing
// acknowledgement.
MMRESULT sendNextHexChunk(HexChunks& chunks);
