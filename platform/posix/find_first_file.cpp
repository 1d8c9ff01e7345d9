// FindFirstFileA for systems without it, as far as the updater uses it: a pattern of the current
// directory with '*' and '?' wildcards, matched ignoring ASCII case like the Windows file system
// does. Where several names match, the first is the least one compared byte by byte with ASCII
// letters folded to upper case (then byte by byte as is): close to how NTFS lists a folder, and the
// same on every run, which directory order on Linux is not.
#include <dirent.h>

#include <cstring>

#include "platform/win_base.h"

namespace {

char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool wildcardMatches(const char* pattern, const char* name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') {
        for (const char* rest = name;; ++rest) {
            if (wildcardMatches(pattern + 1, rest)) return true;
            if (*rest == '\0') return false;
        }
    }
    if (*name == '\0') return false;
    if (*pattern != '?' && asciiUpper(*pattern) != asciiUpper(*name)) return false;
    return wildcardMatches(pattern + 1, name + 1);
}

int compareListingOrder(const char* a, const char* b) {
    for (size_t i = 0;; ++i) {
        // Folded to upper case as NTFS does, which puts '_' after the letters, not before.
        const unsigned char la = static_cast<unsigned char>(asciiUpper(a[i]));
        const unsigned char lb = static_cast<unsigned char>(asciiUpper(b[i]));
        if (la != lb) return la < lb ? -1 : 1;
        if (la == '\0') break;
    }
    return std::strcmp(a, b);
}

// FindNextFileA is not provided, so a search needs no state: any handle that is not
// INVALID_HANDLE_VALUE will do.
int gSearchToken;

}  // namespace

HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData) {
    // Only patterns of the current directory: the updater never names a folder.
    if (lpFileName == nullptr || std::strchr(lpFileName, '/') != nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    DIR* dir = opendir(".");
    if (dir == nullptr) return INVALID_HANDLE_VALUE;

    bool found = false;
    char best[MAX_PATH] = {};
    while (const dirent* entry = readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        if (length >= sizeof best || !wildcardMatches(lpFileName, entry->d_name)) continue;
        if (!found || compareListingOrder(entry->d_name, best) < 0) {
            std::memcpy(best, entry->d_name, length + 1);
            found = true;
        }
    }
    closedir(dir);
    if (!found) return INVALID_HANDLE_VALUE;

    // The name is all the updater reads; every other field is left zero.
    std::memset(lpFindFileData, 0, sizeof *lpFindFileData);
    std::memcpy(lpFindFileData->cFileName, best, sizeof best);
    return &gSearchToken;
}

BOOL FindClose(HANDLE hFindFile) {
    return hFindFile == &gSearchToken ? 1 : 0;
}
