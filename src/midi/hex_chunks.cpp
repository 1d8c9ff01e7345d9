#include "midi/hex_chunks.h"

#include "midi/midi_out.h"

namespace {

char hexDigit(uint8_t nibble) {
    return static_cast<char>(nibble <= 9 ? '0' + nibble : 'A' + (nibble - 10));
}

}  // namespace

void hexEncodeByte(uint8_t byte, char* out) {
    out[0] = hexDigit(static_cast<uint8_t>(byte >> 4));
    out[1] = hexDigit(static_cast<uint8_t>(byte & 0x0F));
}

namespace {

void encodeChunk(const uint8_t* bytes, uint16_t byteCount, uint8_t* text) {
    for (uint16_t i = 0; i < byteCount; ++i) {
        hexEncodeByte(bytes[i], reinterpret_cast<char*>(text + 2 * i));
    }
}

}  // namespace

MMRESULT sendNextHexChunk(HexChunks& chunks) {
    uint8_t text[kMaxSysExPayload];
    const uint8_t* next = chunks.record + (chunks.recordBytes - chunks.remaining);
    if (chunks.remaining >= kFullChunkBytes) {
        encodeChunk(next, kFullChunkBytes, text);
        const MMRESULT result = sendSysEx(text, kMaxSysExPayload);
        if (result != MMSYSERR_NOERROR) {
            return result;
        }
        chunks.remaining = static_cast<uint16_t>(chunks.remaining - kFullChunkBytes);
    } else {
        encodeChunk(next, chunks.remaining, text);
        sendSysEx(text, static_cast<uint16_t>(2 * chunks.remaining));
        chunks.remaining = 0;
    }
    Sleep(kChunkPauseMs);
    return MMSYSERR_NOERROR;
}
