#include "common/run_outcome.h"

namespace {

// The last verdict printed, and whether the transfer had begun (its progress line was drawn):
// once records have gone out, any stop leaves the device part updated, whatever its message.
RunOutcome gVerdict = RunOutcome::kUpdateFailed;
bool gTransferBegun = false;

bool verdictOf(ConsoleText text, RunOutcome& verdict) {
    switch (text) {
        case ConsoleText::kSuccess:
        case ConsoleText::kRestarting:
            verdict = RunOutcome::kSuccess;
            return true;
        case ConsoleText::kFileNotFound:
        case ConsoleText::kFamilyNotFound:
        case ConsoleText::kUpgradeFileError:
            verdict = RunOutcome::kKitRefused;
            return true;
        case ConsoleText::kMidiInMissing:
        case ConsoleText::kMidiOutMissing:
            verdict = gTransferBegun ? RunOutcome::kUpdateFailed : RunOutcome::kNoMidiDevice;
            return true;
        case ConsoleText::kNotResponding:
        case ConsoleText::kResetting:
        case ConsoleText::kNotMatched:
            verdict = gTransferBegun ? RunOutcome::kUpdateFailed : RunOutcome::kDeviceNotReady;
            return true;
        case ConsoleText::kUpdateError:
        case ConsoleText::kCrcError:
        case ConsoleText::kDamaged:
        case ConsoleText::kVerifyError:
        case ConsoleText::kEraseError:
            verdict = RunOutcome::kUpdateFailed;
            return true;
        default:
            return false;
    }
}

}  // namespace

void notePrintedText(ConsoleText text) {
    if (text == ConsoleText::kProgressLine) {
        gTransferBegun = true;
    }
    RunOutcome verdict;
    if (verdictOf(text, verdict)) {
        gVerdict = verdict;
    }
}

RunOutcome runOutcome() {
    return gVerdict;
}

void resetRunOutcome() {
    gVerdict = RunOutcome::kUpdateFailed;
    gTransferBegun = false;
}
