#include "image/load_image.h"

#include <cstdio>

#include "image/decode_kit_text.h"
#include "image/image_messages.h"

StageResult loadImage(RunState& run) {
    // Binary mode: line ends are whitespace to the decoder whatever the platform writes.
    std::FILE* file = std::fopen(run.kitFileName, "rb");
    if (file == nullptr) {
        std::printf(kMsgFileNotFound, run.kitFileName);
        return StageResult::kStop;
    }
    std::printf(kMsgFileOpen, run.kitFileName);
    const KitDecodeStatus status = decodeKitFile(file, run.image);
    // Opened read-only: nothing is lost if the close fails.
    std::fclose(file);
    if (status == KitDecodeStatus::kTooLong) {
        // More bytes than the 16-bit count holds; a shortened image must never reach a device.
        std::printf("%s", kMsgUpgradeFileError);
        return StageResult::kStop;
    }
    return StageResult::kContinue;
}
