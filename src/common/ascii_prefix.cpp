#include "common/ascii_prefix.h"

namespace {

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool asciiPrefixMatches(const char* text, const char* prefix, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == '\0' || asciiLower(text[i]) != asciiLower(prefix[i])) {
            return false;
        }
    }
    return true;
}
