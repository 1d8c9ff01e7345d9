#pragma once

#include <cstdint>

#include "common/stage_result.h"
#include "image/image_buffer.h"
#include "protocol/timing.h"

constexpr uint8_t kReplyAcknowledged = 0x1A;
constexpr uint8_t kReplyCrcError = 0x20;
constexpr uint8_t kReplyDamaged = 0x21;
constexpr uint8_t kReplyDamagedToo = 0x22;
constexpr uint8_t kReplyVerifyError = 0x24;
constexpr uint8_t kReplyEraseError = 0x25;
constexpr uint8_t kReplyRestarting = 0x77;

// The last stage: sends every record and takes the device's verdict on each. Always ends the run.
StageResult transferImage(const ImageBuffer& image);
