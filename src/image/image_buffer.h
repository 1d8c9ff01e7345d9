#pragma once

#include <cstddef>
#include <cstdint>

// The storage is twice what the 16-bit count can describe; only the first count bytes are used.
constexpr size_t kImageStorageBytes = 131072;
constexpr uint16_t kImageMaxBytes = 65535;

struct ImageBuffer {
    uint8_t bytes[kImageStorageBytes];
    uint16_t count;
};
