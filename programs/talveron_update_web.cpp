// talveron-update in a web page: the product's run, over Web MIDI (or the page's emulated device),
// with the kit files the user gave the page in the current directory.
#include <cstdio>

#include "driver/run_update.h"
#include "platform/web/run_ended.h"

int main() {
    // A console shows each line as it is printed; the terminal view should too, also while the
    // program waits for a device.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const int status = runUpdate();
    reportRunEnded(status);
    return status;
}
