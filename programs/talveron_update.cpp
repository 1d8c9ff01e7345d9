#include "driver/run_command_line.h"
#include "platform/win_base.h"

// With no arguments the kit file comes from the current directory and the first usable ports are
// taken; the options only add to that run.
int main(int argc, char** argv) {
    ignoreClosedOutput();
    return runCommandLine("talveron-update", argc, argv);
}
