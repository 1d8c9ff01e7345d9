#include "driver/open_midi_ports.h"

#include "common/console_text.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"

namespace {

constexpr UINT kFirstDeviceIndex = 0;

}  // namespace

StageResult openMidiPorts(const PortChoice& choice) {
    const MMRESULT in = choice.in.chosen ? openChosenMidiIn(choice.in.index, choice.in.name)
                                         : openMidiIn(kFirstDeviceIndex);
    if (in != MMSYSERR_NOERROR) {
        printText(ConsoleText::kMidiInMissing);
        return StageResult::kStop;
    }
    const MMRESULT out = choice.out.chosen ? openChosenMidiOut(choice.out.index, choice.out.name)
                                           : openMidiOut(kFirstDeviceIndex);
    if (out != MMSYSERR_NOERROR) {
        printText(ConsoleText::kMidiOutMissing);
        return StageResult::kStop;
    }
    return StageResult::kContinue;
}
