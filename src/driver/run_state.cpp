#include "driver/run_state.h"

void resetRunState(RunState& run) {
    run.kitFileName[0] = '\0';
    run.identityCode = 0;
    run.image.count = 0;
}
