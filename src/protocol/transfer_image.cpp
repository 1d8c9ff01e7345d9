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

// Where the transfer stands with the device's replies: every reply up to the tally's count
// accounted has been paired with the attempt it answers.
struct ReplyBook {
    uint32_t accounted;
    bool anyUnanswered;  // some attempt's latest answer time passed without a reply
};

// Nothing is owed an answer between two attempts, so any reply that has come since the last one
// was accounted for cannot be paired with a send.
bool unpairedReplyCame(const ReplyBook& book) {
    return replyTallyNow().received != book.accounted;
}

// Sends one attempt at a record, looking for replies before every chunk: one that comes while the
// attempt is still going out cannot be its verdict, and nothing more is sent after it.
enum class AttemptSend { kSent, kSendFailed, kUnpairedReply };

AttemptSend sendAttempt(const uint8_t* record, uint16_t size, const ReplyBook& book) {
    HexChunks chunks = startHexChunks(record, size);
    while (hexChunksLeft(chunks)) {
        if (unpairedReplyCame(book)) {
            return AttemptSend::kUnpairedReply;
        }
        if (sendNextHexChunk(chunks) != MMSYSERR_NOERROR) {
            return AttemptSend::kSendFailed;
        }
    }
    return AttemptSend::kSent;
}

// A listen for the verdict on the attempt just sent: until its latest answer time, with the
// updater's margin.
Listen listenAfterAttempt() {
    return startListen(clockNow(), kListenPolls, kListenPolls);
}

// A device that has stored a record twice is left in its update mode rather than given the rest
// of a wrong image: the run ends here, before anything more is sent.
StageResult stopOnUnpairedReply() {
    printText(ConsoleText::kUpdateError);
    return StageResult::kStop;
}

// The books are closed before the closing lines. A reply taken for the wrong send (another
// program's message on the port, or one answer heard twice) puts every later verdict one send
// behind, and the last message's own answer is then still owed: so the updater listens on until the
// last message sent is past its latest answer time, and any reply by then is one too many. An
// attempt that went unanswered was resent on the promise that its answer would never come; a
// device that answers after all has broken it, and may have stored a record twice: a whole latest
// answer time more from now shows that too. True if no reply came.
bool booksClose(const ReplyBook& book, Listen lastListen) {
    Listen closing = book.anyUnanswered ? listenAfterAttempt() : lastListen;
    listenForReplies(closing, book.accounted, 1);
    return !unpairedReplyCame(book);
}

}  // namespace

StageResult transferImage(const ImageBuffer& image) {
    // Records are acknowledged in image order, so the position is also the acknowledged share.
    uint16_t position = 0;
    uint8_t failedAttempts = 0;
    Spinner spinner{0};
    // Replies carry no sequence number. A reply is taken only where it can belong to one send:
    // the attempt last sent, once it is all out and until its latest answer time has passed.
    ReplyBook book{replyTallyNow().received, false};
    // The listen after the last message sent; nothing is owed an answer before the first.
    Listen lastListen = startListen(clockNow(), 0, 0);

    while (position < image.count) {
        const uint16_t size = recordSize(image, position);
        const uint16_t percent = acknowledgedPercent(position, image.count);
        printProgressLine(spinner, percent);

        switch (sendAttempt(image.bytes + position, size, book)) {
            case AttemptSend::kSent:
                break;
            case AttemptSend::kSendFailed:
                printText(ConsoleText::kLineEnd);  // off the progress line first
                printText(ConsoleText::kMidiOutMissing);
                return StageResult::kStop;
            case AttemptSend::kUnpairedReply:
                return stopOnUnpairedReply();
        }
        // A device may answer up to its latest answer time, so it is waited for that long: a
        // device that answers in time never sees a resend, and stores each record once.
        lastListen = listenAfterAttempt();
        if (listenForReplies(lastListen, book.accounted, 1) == 0) {
            book.anyUnanswered = true;
            if (++failedAttempts >= kMaxAttemptsPerRecord) {
                printText(ConsoleText::kNotResponding);
                return StageResult::kStop;
            }
            stepSpinnerBack(spinner);
            continue;
        }
        // The tally's count and code are read together: if it still stands at one reply past the
        // last accounted for, its code is this attempt's verdict; a second reply means one send
        // was answered twice, or an answer came for a send long given up on.
        const ReplyTally tally = replyTallyNow();
        if (repliesBetween(book.accounted, tally.received) != 1) {
            return stopOnUnpairedReply();
        }
        book.accounted = tally.received;
        discardReply();  // the slot holds the same reply: taken
        const uint8_t code = tally.lastCode;
        if (code == kReplyAcknowledged) {
            failedAttempts = 0;
            position = static_cast<uint16_t>(position + size);
            continue;
        }
        if (++failedAttempts >= kMaxAttemptsPerRecord) {
            printText(ConsoleText::kUpdateError);
            return StageResult::kStop;
        }
        stepSpinnerBack(spinner);
        if (code == kReplyRestarting) {
            // The device has taken the whole update and restarts by itself, if the word was its
            // own.
            if (!booksClose(book, lastListen)) {
                return stopOnUnpairedReply();
            }
            printText(ConsoleText::kDone);
            printText(ConsoleText::kSuccess);
            printText(ConsoleText::kRestarting);
            return StageResult::kStop;
        }
        printRejection(code);
    }
    if (!booksClose(book, lastListen)) {
        return stopOnUnpairedReply();
    }
    printText(ConsoleText::kDone);
    printText(ConsoleText::kSuccess);
    printText(ConsoleText::kLineEnd);  // an empty line before the key-press prompt
    return StageResult::kStop;
}
