#pragma once

#include "common/stage_result.h"
#include "image/image_buffer.h"

// Opens the kit file and decodes its hexadecimal text into the image.
StageResult loadImage(const char* kitFileName, ImageBuffer& image);
