#include "driver/choose_ports.h"

#include <cstdio>
#include <cstring>

#include "common/console_text.h"
#include "midi/choose_midi_device.h"

namespace {

MidiDeviceList gList;

void printCandidates(const char* wanted) {
    for (UINT i = 0; i < gList.count; ++i) {
        if (isCandidateMidiDevice(gList, wanted, i)) {
            printCommandLineText(stderr, ConsoleText::kCandidateDevice, i, gList.devices[i].name);
        }
    }
}

bool choosePort(const char* programName, MidiDirection direction, const char* wanted,
                ChosenPort& port) {
    port.chosen = false;
    if (wanted == nullptr) {
        return true;
    }
    const char* directionName = direction == MidiDirection::kIn ? "In" : "Out";
    listMidiDevices(direction, gList);
    UINT index = 0;
    switch (chooseMidiDevice(gList, wanted, index)) {
        case DeviceChoice::kChosen:
            port.chosen = true;
            port.index = index;
            std::memcpy(port.name, gList.devices[index].name, sizeof port.name);
            return true;
        case DeviceChoice::kNoDevice:
            printCommandLineText(stderr, ConsoleText::kNoDeviceToChoose, programName, directionName,
                                 wanted);
            reportNoMidiDevice();
            return false;
        case DeviceChoice::kNoSuchIndex:
            printCommandLineText(stderr, ConsoleText::kNoSuchDeviceIndex, programName,
                                 directionName, wanted, directionName);
            break;
        case DeviceChoice::kNoSuchName:
            printCommandLineText(stderr, ConsoleText::kNoSuchDeviceName, programName, directionName,
                                 wanted, directionName);
            break;
        case DeviceChoice::kAmbiguous:
            printCommandLineText(stderr, ConsoleText::kAmbiguousDevice, programName, wanted,
                                 directionName);
            break;
    }
    printCandidates(wanted);
    return false;
}

}  // namespace

bool choosePorts(const char* programName, const RunOptions& options, PortChoice& choice) {
    const char* in = options.in != nullptr ? options.in : options.port;
    const char* out = options.out != nullptr ? options.out : options.port;
    return choosePort(programName, MidiDirection::kIn, in, choice.in) &&
           choosePort(programName, MidiDirection::kOut, out, choice.out);
}
