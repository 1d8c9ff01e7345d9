#include "driver/open_midi_ports.h"

#include "common/console_text.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"

namespace {

constexpr UINT kFirstDeviceIndex = 0;

}  // namespace

StageResult openMidiPorts() {
    if (openMidiIn(kFirstDeviceIndex) != MMSYSERR_NOERROR) {
        printText(ConsoleText::kMidiInMissing);
        return StageResult::kStop;
    }
    if (openMidiOut(kFirstDeviceIndex) != MMSYSERR_NOERROR) {
        printText(ConsoleText::kMidiOutMissing);
        return StageResult::kStop;
    }
    return StageResult::kContinue;
}
