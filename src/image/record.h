#pragma once

#include <cstdint>

#include "image/image_buffer.h"

// A record: big-endian 16-bit length LEN, LEN - 2 payload bytes, little-endian 16-bit checksum.
// The length field counts payload and checksum but not itself, so the record spans LEN + 2 bytes.
constexpr uint16_t kRecordLengthFieldBytes = 2;
constexpr uint16_t kRecordChecksumBytes = 2;
constexpr uint16_t kRecordMinLength = 2;       // empty payload, checksum only
constexpr uint16_t kRecordMaxLength = 0xFFFD;  // LEN + 2 must still fit in 16 bits

inline uint16_t recordLength(const ImageBuffer& image, uint16_t position) {
    return static_cast<uint16_t>(image.bytes[position] << 8 | image.bytes[position + 1]);
}

// Total size T of the record starting at position, in 16-bit arithmetic.
inline uint16_t recordSize(const ImageBuffer& image, uint16_t position) {
    return static_cast<uint16_t>(recordLength(image, position) + kRecordLengthFieldBytes);
}
