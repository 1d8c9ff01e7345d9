#include "image/find_kit_file.h"

#include <cstring>

#include "common/ascii_prefix.h"
#include "common/console_text.h"
#include "platform/win_base.h"

namespace {

constexpr size_t kFamilyPrefixLength = 8;

bool isPathSeparator(char character) {
#ifdef _WIN32
    return character == '/' || character == '\\' || character == ':';
#else
    return character == '/';
#endif
}

// The identity code of the family a file name's prefix names; the name alone, no directory.
StageResult takeFamily(const char* fileName, uint8_t& identityCode) {
    if (!asciiPrefixMatches(fileName, kBrevantoPrefix, kFamilyPrefixLength)) {
        identityCode = 0;
        printText(ConsoleText::kFamilyNotFound);
        return StageResult::kStop;
    }
    identityCode = kBrevantoIdentityCode;
    return StageResult::kContinue;
}

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

    return takeFamily(kitFileName, identityCode);
}

StageResult findNamedKitFile(const char* path, uint8_t& identityCode) {
    const char* fileName = path;
    for (const char* at = path; *at != '\0'; ++at) {
        if (isPathSeparator(*at)) {
            fileName = at + 1;
        }
    }
    return takeFamily(fileName, identityCode);
}
