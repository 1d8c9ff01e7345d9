#pragma once

#include <cstddef>

// True when the first length characters of text equal those of prefix, ASCII case ignored. Text
// shorter than length never matches. Locale-free on purpose: device and family names are plain
// ASCII.
bool asciiPrefixMatches(const char* text, const char* prefix, size_t length);
