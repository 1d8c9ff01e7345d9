#include <signal.h>

#include "platform/win_base.h"

// The default action of SIGPIPE ends the process at the first write to a closed pipe, which
// would leave a device half-flashed. Ignored, the write fails with EPIPE and the update goes on.
void ignoreClosedOutput() {
    signal(SIGPIPE, SIG_IGN);
}
