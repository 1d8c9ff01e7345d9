#pragma once

#include <cstddef>
#include <cstdint>

#include "common/stage_result.h"

constexpr const char* kKitFilePattern = "*.kit";
constexpr const char* kBrevantoPrefix = "Brevanto";
constexpr uint8_t kBrevantoIdentityCode = 0x33;
constexpr size_t kKitFileNameSize = 100;  // 99 characters and the terminator

// The run's first stage: takes the first entry the file search yields for "*.kit" and, from its
// name's family prefix, the identity code the device must report.
StageResult findKitFile(char (&kitFileName)[kKitFileNameSize], uint8_t& identityCode);

// The same stage for a kit file the user named, by any path: no search, the identity code from
// the family prefix of the path's last part. Whether the file is there is for loadImage to find.
StageResult findNamedKitFile(const char* path, uint8_t& identityCode);
