#include "driver/run_update.h"
#include "platform/win_base.h"

// The tool takes no arguments: the kit file comes from the current directory.
int main() {
    ignoreClosedOutput();
    return runUpdate();
}
