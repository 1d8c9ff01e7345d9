#include "driver/print_midi_devices.h"

#include <cstdio>

#include "common/console_text.h"
#include "midi/choose_midi_device.h"

namespace {

// Static: two lists of names are more than a 32-bit console's stack should hold.
MidiDeviceList gList;

// Lists one direction; true when it marked the device a run takes.
bool printDirection(MidiDirection direction, const char* directionName) {
    listMidiDevices(direction, gList);
    printCommandLineText(stdout, ConsoleText::kListHeading, directionName);
    if (gList.count == 0) {
        printCommandLineText(stdout, ConsoleText::kListNone);
        return false;
    }
    UINT taken = 0;
    const bool anyTaken = firstUsableMidiDevice(gList, taken);
    for (UINT i = 0; i < gList.count; ++i) {
        const MidiDeviceListing& device = gList.devices[i];
        const char* mark = anyTaken && i == taken ? "*" : " ";
        if (device.note[0] == '\0') {
            printCommandLineText(stdout, ConsoleText::kListDevice, mark, i, device.name);
        } else {
            printCommandLineText(stdout, ConsoleText::kListDeviceNoted, mark, i, device.name,
                                 device.note);
        }
    }
    if (gList.cut) {
        printCommandLineText(stdout, ConsoleText::kListCut, kMaxListedDevices);
    }
    return anyTaken;
}

}  // namespace

void printMidiDevices() {
    const bool inTaken = printDirection(MidiDirection::kIn, "In");
    const UINT inCount = gList.count;
    const bool outTaken = printDirection(MidiDirection::kOut, "Out");
    if (inTaken || outTaken) {
        printCommandLineText(stdout, ConsoleText::kListMarkMeaning);
    }
    if (inCount == 0 && gList.count == 0) {
        std::fflush(stdout);
        reportNoMidiDevice();
    }
}
