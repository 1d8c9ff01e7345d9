// talveron-update in a web page: the product's run, over Web MIDI (or the page's emulated device),
// with the kit files the user gave the page in the current directory.
#include <cstdio>

#include "driver/run_command_line.h"
#include "platform/web/run_ended.h"

// The page passes the devices the user picked as options (--in, --out); with none picked, the
// run is the console's bare run.
int main(int argc, char** argv) {
    // A console shows each line as it is printed; the terminal view should too, also while the
    // program waits for a device.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const int status = runCommandLine("talveron-update", argc, argv);
    reportRunEnded(status);
    return status;
}
