#pragma once

#include "common/stage_result.h"
#include "driver/run_state.h"

// Stage 2: opens the kit file and decodes its hexadecimal text into the run's image.
StageResult loadImage(RunState& run);
