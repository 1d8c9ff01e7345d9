#pragma once

#include <cstddef>
#include <cstdint>

// Only the first count bytes are used, at most 65,535. The storage is twice that: a record
// position and an offset inside the record are 16-bit values each, so their sum stays below
// 131,072, and no read of a record, even of one the checksum walk then refuses, leaves the array.
constexpr size_t kImageStorageBytes = 131072;
constexpr uint16_t kImageMaxBytes = 65535;

struct ImageBuffer {
    uint8_t bytes[kImageStorageBytes];
    uint16_t count;
};
