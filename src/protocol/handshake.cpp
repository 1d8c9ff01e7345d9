#include "protocol/handshake.h"

#include "common/console_text.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "protocol/reply_wait.h"

namespace {

// A probe left unanswered within its attempt may still be answered, up to its latest answer time;
// taken during the transfer, that identity reply would pass for a record's verdict. Replies carry
// no sequence number, and a link may repeat one or carry another program's, so no count of them
// tells that every probe has had its answer: where any attempt went unanswered, the updater
// listens until the last probe sent is past its latest answer time, and drops whatever came. The
// last attempt's window is already behind it, so that much less is left to poll.
void dropLateProbeReplies(uint32_t tallyBefore, ClockMark lastProbeSent) {
    Listen listen =
        startListen(lastProbeSent, kListenPolls - kHandshakePollsPerAttempt, kListenPolls);
    listenForReplies(listen, tallyBefore, kEveryReply);
    discardReply();
}

}  // namespace

StageResult handshake(uint8_t identityCode) {
    const uint32_t tallyBefore = replyTallyNow().received;
    uint16_t probesSent = 0;
    ClockMark lastProbeSent{0, false};
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
        ++probesSent;
        lastProbeSent = clockNow();
        // A count of 1 ends the wait but is no reply, and is left as it is.
        if (!isReply(waitForReplyCount(kHandshakePollsPerAttempt))) {
            continue;
        }
        const uint8_t code = takeReplyCode();
        if (code == identityCode) {
            if (probesSent > 1) {
                dropLateProbeReplies(tallyBefore, lastProbeSent);
            }
            return StageResult::kContinue;
        }
        printText(code == kReplyResetting ? ConsoleText::kResetting : ConsoleText::kNotMatched);
        return StageResult::kStop;
    }
}
