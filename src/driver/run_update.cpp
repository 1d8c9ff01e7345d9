#include "driver/run_update.h"

#include <cstdio>

#include "common/console_text.h"
#include "common/run_outcome.h"
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
// A kit file the user named is taken by its path, as given; otherwise the search finds one.
bool imageStagesPass(RunState& run, const char* kitFile) {
    const StageResult found = kitFile != nullptr ? findNamedKitFile(kitFile, run.identityCode)
                                                 : findKitFile(run.kitFileName, run.identityCode);
    const char* name = kitFile != nullptr ? kitFile : run.kitFileName;
    return found == StageResult::kContinue &&
           loadImage(name, run.image) == StageResult::kContinue &&
           validateImage(run.image) == StageResult::kContinue;
}

// Opening the ports, the handshake and the transfer; the caller closes the ports however these end.
void deviceStages(const RunState& run, const PortChoice& ports) {
    if (openMidiPorts(ports) == StageResult::kStop) {
        return;
    }
    if (handshake(run.identityCode) == StageResult::kStop) {
        return;
    }
    transferImage(run.image);
}

}  // namespace

int runUpdate() {
    static const RunChoice kFirstOfEach = {};
    return runUpdate(kFirstOfEach);
}

int runUpdate(const RunChoice& choice) {
    // Static: the image alone is 128 KiB, too much for a 32-bit console's stack, and the heap is
    // not used.
    static RunState run;
    resetRunState(run);
    resetRunOutcome();

    printText(ConsoleText::kBanner);
    if (imageStagesPass(run, choice.kitFile)) {
        deviceStages(run, choice.ports);
        closeMidiIn();
        closeMidiOut();
    }
    // The key-press prompt may come from another process: what we printed must be out first.
    std::fflush(stdout);
    pauseConsole();
    return 0;
}
