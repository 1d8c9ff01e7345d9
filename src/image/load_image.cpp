#include "image/load_image.h"

#include <cstdio>

#include "common/console_text.h"
#include "image/decode_kit_text.h"
#include "image/find_kit_file.h"
#include "platform/win_base.h"

namespace {

// A kit file the user named may have a path of any length; the console shows that much of it.
constexpr size_t kShownFileNameSize = MAX_PATH;

}  // namespace

StageResult loadImage(const char* kitFileName, ImageBuffer& image) {
    // Binary mode: line ends are whitespace to the decoder whatever the platform writes. Only a
    // regular file: a folder or a pipe of that name is no kit, and a pipe would never end.
    std::FILE* file = openRegularFile(kitFileName);
    // The name as the console may show it, in a copy: the file is opened by its real name.
    char shownName[kShownFileNameSize];
    printableFileName(kitFileName, shownName, sizeof shownName);
    if (file == nullptr) {
        printText(ConsoleText::kFileNotFound, shownName);
        return StageResult::kStop;
    }
    printText(ConsoleText::kFileOpen, shownName);
    const KitDecodeStatus status = decodeKitFile(file, image);
    // Opened read-only: nothing is lost if the close fails.
    std::fclose(file);
    if (status == KitDecodeStatus::kTooLong || status == KitDecodeStatus::kReadError) {
        // More bytes than the 16-bit count holds, or a file that could not be read to its end: a
        // shortened image must never reach a device.
        printText(ConsoleText::kUpgradeFileError);
        return StageResult::kStop;
    }
    return StageResult::kContinue;
}
