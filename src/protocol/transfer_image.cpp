#include "protocol/transfer_image.h"

#include <cstdio>

#include "image/record.h"
#include "midi/hex_chunks.h"
#include "midi/midi_in.h"
#include "protocol/progress_line.h"
#include "protocol/reply_wait.h"

namespace {

constexpr const char* kMsgDone = "\rTransferring.. 100%% done.  \n";
constexpr const char* kMsgSuccess = "Target update successfully!\n\n";
constexpr const char* kMsgSuccessBeforeRestart = "Target update successfully!\n";
constexpr const char* kMsgRestart = "\nThe System is restart, please wait!\n\n";
constexpr const char* kMsgMidiOutMissing = "\nError: The MIDI Out of device is missing!\n\n";
constexpr const char* kMsgNotResponding = "\nFailed: Target is not responding.\n\n";
constexpr const char* kMsgUpdateError = "\nError in updating.\n";
constexpr const char* kMsgCrcError = "\nThe CRC of the download file is error!\n";
constexpr const char* kMsgDamaged = "\nThe download file has been damaged!\n";
constexpr const char* kMsgVerifyError = "\nThe download file verifies error!\n";
constexpr const char* kMsgEraseError = "\nThe MCU erases error!\n";

// The device's complaint about a record it will take again; nullptr for codes it gives silently.
const char* rejectionMessage(uint8_t code) {
    switch (code) {
        case kReplyCrcError:
            return kMsgCrcError;
        case kReplyDamaged:
        case kReplyDamagedToo:
            return kMsgDamaged;
        case kReplyVerifyError:
            return kMsgVerifyError;
        case kReplyEraseError:
            return kMsgEraseError;
        default:
            return nullptr;
    }
}

}  // namespace

StageResult transferImage(RunState& run) {
    const ImageBuffer& image = run.image;
    uint16_t position = 0;
    uint16_t acknowledged = 0;
    uint8_t failedAttempts = 0;
    Spinner spinner{0};

    while (position < image.count) {
        const uint16_t size = recordSize(image, position);
        const uint16_t percent = acknowledgedPercent(acknowledged, image.count);
        printProgressLine(spinner, percent);

        if (sendRecordHex(image.bytes + position, size) != MMSYSERR_NOERROR) {
            std::printf("%s", kMsgMidiOutMissing);
            return StageResult::kStop;
        }
        const uint16_t budget = percent >= kLatePercent ? kVerdictPollsLate : kVerdictPolls;
        if (!isReply(waitForReplyCount(budget, WaitUntil::kReplyPresent))) {
            if (++failedAttempts >= kMaxAttemptsPerRecord) {
                std::printf("%s", kMsgNotResponding);
                return StageResult::kStop;
            }
            stepSpinnerBack(spinner);
            continue;
        }

        const uint8_t code = takeReplyCode();
        if (code == kReplyAcknowledged) {
            acknowledged = static_cast<uint16_t>(acknowledged + size);
            failedAttempts = 0;
            position = static_cast<uint16_t>(position + size);
            continue;
        }
        if (++failedAttempts >= kMaxAttemptsPerRecord) {
            std::printf("%s", kMsgUpdateError);
            return StageResult::kStop;
        }
        stepSpinnerBack(spinner);
        if (code == kReplyRestarting) {
            // The device has taken the whole update and restarts by itself.
            std::printf(kMsgDone);
            std::printf("%s", kMsgSuccessBeforeRestart);
            std::printf("%s", kMsgRestart);
            return StageResult::kStop;
        }
        if (const char* message = rejectionMessage(code)) {
            std::printf("%s", message);
        }
    }
    std::printf(kMsgDone);
    std::printf("%s", kMsgSuccess);
    return StageResult::kStop;
}
