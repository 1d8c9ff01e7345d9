#pragma once

#include <cstddef>
#include <cstdint>

#include "image/find_kit_file.h"
#include "image/image_buffer.h"

// Everything one update run owns, from the banner to the key press.
struct RunState {
    char kitFileName[kKitFileNameSize];
    uint8_t identityCode;
    ImageBuffer image;
};

// Back to the state a run starts from: no file name, no identity code, an empty image.
void resetRunState(RunState& run);
