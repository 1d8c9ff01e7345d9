#include "protocol/handshake.h"

#include "common/console_text.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "protocol/reply_wait.h"

StageResult handshake(uint8_t identityCode) {
    uint16_t counter = kHandshakeCounterStart;
    for (;;) {
        --counter;
        if (counter == 0) {
            printText(ConsoleText::kNotResponding);
            return StageResult::kStop;
        }
        // Odd counters send probe A: attempts 1, 3, ..., 19 (counter 19 down to 1).
        const uint8_t* probe = (counter & 1) != 0 ? kProbeA : kProbeB;
        if (sendSysEx(probe, kProbeBytes) != MMSYSERR_NOERROR) {
            printText(ConsoleText::kMidiOutMissing);
            return StageResult::kStop;
        }
        // A count of 1 ends the wait but is no reply, and is left as it is.
        if (!isReply(waitForReplyCount(kHandshakePollsPerAttempt, WaitUntil::kCountNonZero))) {
            continue;
        }
        const uint8_t code = takeReplyCode();
        if (code == identityCode) {
            return StageResult::kContinue;
        }
        printText(code == kReplyResetting ? ConsoleText::kResetting : ConsoleText::kNotMatched);
        return StageResult::kStop;
    }
}
