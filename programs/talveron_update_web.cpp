// talveron-update in a web page: the product's run, over Web MIDI (or the page's emulated device),
// with the kit file the user gave the page in the current directory.
#include <emscripten.h>

#include <cstdio>

#include "driver/run_command_line.h"
#include "midi/choose_midi_device.h"
#include "platform/web/run_ended.h"

// The page's device picker preselects what a run with no device named takes, by the program's
// own rule: the index of that MIDI In (output 0) or Out (output 1) port, or -1 when there is none.
extern "C" EMSCRIPTEN_KEEPALIVE int pageFirstUsableMidiDevice(int output) {
    static MidiDeviceList list;
    listMidiDevices(output != 0 ? MidiDirection::kOut : MidiDirection::kIn, list);
    UINT index = 0;
    return firstUsableMidiDevice(list, index) ? static_cast<int>(index) : -1;
}

// The page passes the devices the user picked other than those (--in, --out); with none, the run
// is the console's bare run.
int main(int argc, char** argv) {
    // A console shows each line as it is printed; the terminal view should too, also while the
    // program waits for a device.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const int status = runCommandLine("talveron-update", argc, argv);
    reportRunEnded(status);
    return status;
}
