#include "common/ascii_prefix.h"

namespace {

char asciiLower(char character) {
    return (character >= 'A' && character <= 'Z') ? static_cast<char>(character - 'A' + 'a')
                                                  : character;
}

}  // namespace

bool asciiPrefixMatches(const char* text, const char* prefix, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\0' || asciiLower(text[i]) != asciiLower(prefix[i])) {
            return false;
        }
    }
    return true;
}
