#pragma once

#include "common/stage_result.h"
#include "image/image_buffer.h"

// True when the image is one or more records that cover it exactly, each with a length field of
// 2 to 0xFFFD and a checksum that holds.
bool imageIsValid(const ImageBuffer& image);

// Refuses a damaged kit file before any MIDI port is opened.
StageResult validateImage(const ImageBuffer& image);
