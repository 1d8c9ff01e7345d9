#include "midi/hex_chunks.h"
#include "midi/send_sysex.h"

namespace {

void encodeChunk(const uint8_t* bytes, uint16_t k, uint8_t* text) {
    for (uint16_t i = 0; i < k; ++i) {
        hexEncodeByte(bytes[i], reinterpret_cast<char*>(text + 2 * i));
    }
}

}  // namespace

MMRESULT sendRecordHex(const uint8_t* record, uint16_t T) {
    uint8_t text[2 * kFullChunkBytes];
    uint16_t remaining = T;
    while (remaining > 0) {
        const uint8_t* next = record + (T - remaining);
        if (remaining >= kFullChunkBytes) {
            encodeChunk(next, kFullChunkBytes, text);
            const MMRESULT result = sendSysEx(text, 2 * kFullChunkBytes);
            if (result != MMSYSERR_NOERROR) {
                return result;
            }
            remaining = static_cast<uint16_t>(remaining - kFullChunkBytes);
        } else {
            encodeChunk(next, remaining, text);
            sendSysEx(text, static_cast<uint16_t>(2 * remaining));
            remaining = 0;
        }
        Sleep(kChunkPauseMs);
    }
    return MMSYSERR_NOERROR;
}
