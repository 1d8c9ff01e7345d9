#pragma once

#include <cstdint>

#include "common/stage_result.h"
#include "driver/run_state.h"

constexpr const char* kKitFilePattern = "*.kit";
constexpr const char* kBrevantoPrefix = "Brevanto";
constexpr uint8_t kBrevantoIdentityCode = 0x33;

// Stage 1: takes the first entry the file search yields for "*.kit" and, from its name's family
// prefix, the identity code the device must report.
StageResult findKitFile(RunState& run);
