#include "midi/hex_chunks.h"

namespace {

char hexDigit(uint8_t v) {
    return static_cast<char>(v <= 9 ? '0' + v : 'A' + (v - 10));
}

}  // namespace

void hexEncodeByte(uint8_t b, char* out) {
    out[0] = hexDigit(static_cast<uint8_t>(b >> 4));
    out[1] = hexDigit(static_cast<uint8_t>(b & 0x0F));
}
