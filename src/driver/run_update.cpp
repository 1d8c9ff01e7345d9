#include "driver/run_update.h"

#include <cstdio>

#include "common/console_text.h"
#include "driver/open_midi_ports.h"
#include "driver/run_state.h"
#include "image/find_kit_file.h"
#include "image/load_image.h"
#include "image/validate_image.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "platform/win_base.h"
#include "protocol/handshake.h"
#include "protocol/transfer_image.h"

namespace {

// Finding, loading and checking the image need no MIDI port: a run that stops here never touches
// one.
bool imageStagesPass(RunState& run) {
    return findKitFile(run.kitFileName, run.identityCode) == StageResult::kContinue &&
           loadImage(run.kitFileName, run.image) == StageResult::kContinue &&
           validateImage(run.image) == StageResult::kContinue;
}

// Opening the ports, the handshake and the transfer; the caller closes the ports however these end.
void deviceStages(const RunState& run) {
    if (openMidiPorts() == StageResult::kStop) {
        return;
    }
    if (handshake(run.identityCode) == StageResult::kStop) {
        return;
    }
    transferImage(run.image);
}

}  // namespace

int runUpdate() {
    // Static: the image alone is 128 KiB, too much for a 32-bit console's stack, and the heap is
    // not used.
    static RunState run;
    resetRunState(run);

    printText(ConsoleText::kBanner);
    if (imageStagesPass(run)) {
        deviceStages(run);
        closeMidiIn();
        closeMidiOut();
    }
    // The key-press prompt may come from another process: what we printed must be out first.
    std::fflush(stdout);
    pauseConsole();
    return 0;
}
