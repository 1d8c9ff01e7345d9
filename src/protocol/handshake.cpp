#include "protocol/handshake.h"

#include <cstdio>

#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "protocol/reply_wait.h"

namespace {

constexpr const char* kMsgMidiOutMissing = "Error: The MIDI Out of device is missing!\n\n";
constexpr const char* kMsgNotResponding = "\nFailed: Target is not responding.\n\n";
constexpr const char* kMsgResetting = "Please wait the system reset and retry again!\n\n";
constexpr const char* kMsgNotMatched = "Error: The device and the upgrade file is not matched!\n\n";

}  // namespace

StageResult handshake(RunState& run) {
    uint16_t counter = kHandshakeCounterStart;
    for (;;) {
        --counter;
        if (counter == 0) {
            std::printf("%s", kMsgNotResponding);
            return StageResult::kStop;
        }
        // Odd counters send probe A: attempts 1, 3, ..., 19 (counter 19 down to 1).
        const uint8_t* probe = (counter & 1) != 0 ? kProbeA : kProbeB;
        if (sendSysEx(probe, kProbeBytes) != MMSYSERR_NOERROR) {
            std::printf("%s", kMsgMidiOutMissing);
            return StageResult::kStop;
        }
        // A count of 1 ends the wait but is no reply, and is left as it is.
        if (!isReply(waitForReplyCount(kHandshakePollsPerAttempt, WaitUntil::kCountNonZero))) {
            continue;
        }
        const uint8_t code = takeReplyCode();
        if (code == run.identityCode) {
            return StageResult::kContinue;
        }
        std::printf("%s", code == kReplyResetting ? kMsgResetting : kMsgNotMatched);
        return StageResult::kStop;
    }
}
