#include "driver/open_midi_ports.h"

#include <cstdio>

#include "midi/midi_in.h"
#include "midi/midi_out.h"

namespace {

constexpr const char* kMsgMidiInMissing = "Error: The MIDI In of device is missing!\n\n";
constexpr const char* kMsgMidiOutMissing = "Error: The MIDI Out of device is missing!\n\n";
constexpr UINT kFirstDeviceIndex = 0;

}  // namespace

StageResult openMidiPorts() {
    if (openMidiIn(kFirstDeviceIndex) != MMSYSERR_NOERROR) {
        std::printf("%s", kMsgMidiInMissing);
        return StageResult::kStop;
    }
    if (openMidiOut(kFirstDeviceIndex) != MMSYSERR_NOERROR) {
        std::printf("%s", kMsgMidiOutMissing);
        return StageResult::kStop;
    }
    return StageResult::kContinue;
}
