#pragma once

#include <cstdint>

#include "common/stage_result.h"
#include "protocol/timing.h"

constexpr uint16_t kProbeBytes = 7;
constexpr uint8_t kProbeA[kProbeBytes] = {0x4C, 0x2E, 0x93, 0x07, 0x8D, 0x21, 0x95};
constexpr uint8_t kProbeB[kProbeBytes] = {0x6B, 0x31, 0x5D, 0x48, 0x0F, 0x72, 0x29};
constexpr uint8_t kReplyResetting = 0x15;

// Before any image byte: probes until the device answers, then accepts it only if it reports the
// identity code the kit file's name selected.
StageResult handshake(uint8_t identityCode);
