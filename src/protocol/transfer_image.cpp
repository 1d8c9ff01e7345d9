#include "protocol/transfer_image.h"

#include "common/console_text.h"
#include "image/record.h"
#include "midi/hex_chunks.h"
#include "midi/midi_in.h"
#include "protocol/progress_line.h"
#include "protocol/reply_wait.h"

namespace {

// The device's complaint about a record it will take again, if it gives one; for other codes it
// gives nothing and the record is simply sent again.
void printRejection(uint8_t code) {
    switch (code) {
        case kReplyCrcError:
            printText(ConsoleText::kCrcError);
            break;
        case kReplyDamaged:
        case kReplyDamagedToo:
            printText(ConsoleText::kDamaged);
            break;
        case kReplyVerifyError:
            printText(ConsoleText::kVerifyError);
            break;
        case kReplyEraseError:
            printText(ConsoleText::kEraseError);
            break;
        default:
            break;
    }
}

// After a run with unanswered attempts: were the verdicts taken the records' own? Not if a late
// verdict was found before a send, nor if one still arrives now. A device that answers late does
// so on every record, and a record it kept silent on n times was answered at least n windows
// late, so the updater listens for one window more than that: the owed verdict of the last record
// arrives within it.
bool verdictsWereInStep(bool lateVerdictDiscarded, uint8_t longestSilence, uint16_t polls) {
    if (lateVerdictDiscarded) {
        return false;
    }
    const uint16_t listenPolls = static_cast<uint16_t>(polls * (longestSilence + 1));
    return !isReply(waitForReplyCount(listenPolls, WaitUntil::kReplyPresent));
}

}  // namespace

StageResult transferImage(const ImageBuffer& image) {
    uint16_t position = 0;
    uint16_t acknowledged = 0;
    uint8_t failedAttempts = 0;
    uint16_t polls = kVerdictPolls;
    // Replies carry no sequence number. Once an attempt has gone unanswered, its verdict may still
    // come: taken for a later attempt's, it puts every verdict after it one record behind.
    uint8_t silentAttempts = 0;         // of the record being sent
    uint8_t longestSilence = 0;         // most silent attempts on any one record
    bool lateVerdictDiscarded = false;  // after an unanswered attempt
    Spinner spinner{0};

    while (position < image.count) {
        const uint16_t size = recordSize(image, position);
        const uint16_t percent = acknowledgedPercent(acknowledged, image.count);
        printProgressLine(spinner, percent);

        // Whatever is in the slot now came before this attempt and cannot be its verdict. After an
        // unanswered attempt it is that attempt's verdict come late: the device has taken a record
        // the updater counted as lost.
        if (isReply(discardReply()) && longestSilence > 0) {
            lateVerdictDiscarded = true;
        }
        if (sendRecordHex(image.bytes + position, size) != MMSYSERR_NOERROR) {
            printText(ConsoleText::kLineEnd);  // off the progress line first
            printText(ConsoleText::kMidiOutMissing);
            return StageResult::kStop;
        }
        polls = percent >= kLatePercent ? kVerdictPollsLate : kVerdictPolls;
        if (!isReply(waitForReplyCount(polls, WaitUntil::kReplyPresent))) {
            ++silentAttempts;
            if (silentAttempts > longestSilence) {
                longestSilence = silentAttempts;
            }
            if (++failedAttempts >= kMaxAttemptsPerRecord) {
                printText(ConsoleText::kNotResponding);
                return StageResult::kStop;
            }
            stepSpinnerBack(spinner);
            continue;
        }

        const uint8_t code = takeReplyCode();
        if (code == kReplyAcknowledged) {
            acknowledged = static_cast<uint16_t>(acknowledged + size);
            failedAttempts = 0;
            silentAttempts = 0;
            position = static_cast<uint16_t>(position + size);
            continue;
        }
        if (++failedAttempts >= kMaxAttemptsPerRecord) {
            printText(ConsoleText::kUpdateError);
            return StageResult::kStop;
        }
        stepSpinnerBack(spinner);
        if (code == kReplyRestarting) {
            // The device has taken the whole update and restarts by itself.
            printText(ConsoleText::kDone);
            printText(ConsoleText::kSuccess);
            printText(ConsoleText::kRestarting);
            return StageResult::kStop;
        }
        printRejection(code);
    }
    if (longestSilence > 0 && !verdictsWereInStep(lateVerdictDiscarded, longestSilence, polls)) {
        printText(ConsoleText::kUpdateError);
        return StageResult::kStop;
    }
    printText(ConsoleText::kDone);
    printText(ConsoleText::kSuccess);
    printText(ConsoleText::kLineEnd);  // an empty line before the key-press prompt
    return StageResult::kStop;
}
