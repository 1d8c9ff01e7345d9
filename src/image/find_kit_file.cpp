#include "image/find_kit_file.h"

#include <cstring>

#include "common/ascii_prefix.h"
#include "common/console_text.h"
#include "platform/win_base.h"

namespace {

constexpr size_t kFamilyPrefixLength = 8;

}  // namespace

StageResult findKitFile(char (&kitFileName)[kKitFileNameSize], uint8_t& identityCode) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(kKitFilePattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        printText(ConsoleText::kFileNotFound, kKitFilePattern);
        return StageResult::kStop;
    }
    // Only the first entry counts; the search handle has nothing more to give us.
    FindClose(search);

    // A name that does not fit the name's buffer is treated as absent rather than cut: a cut
    // name would open some other file, or none.
    const size_t nameLength = strnlen(entry.cFileName, sizeof entry.cFileName);
    if (nameLength >= sizeof kitFileName) {
        printText(ConsoleText::kFileNotFound, kKitFilePattern);
        return StageResult::kStop;
    }
    std::memcpy(kitFileName, entry.cFileName, nameLength);
    kitFileName[nameLength] = '\0';

    if (!asciiPrefixMatches(kitFileName, kBrevantoPrefix, kFamilyPrefixLength)) {
        identityCode = 0;
        printText(ConsoleText::kFamilyNotFound);
        return StageResult::kStop;
    }
    identityCode = kBrevantoIdentityCode;
    return StageResult::kContinue;
}
