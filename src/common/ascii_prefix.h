#pragma once

#include <cstddef>

// True when the first n characters of text equal those of prefix, ASCII case ignored. Text shorter
// than n never matches. Locale-free on purpose: device and family names are plain ASCII.
bool asciiPrefixMatches(const char* text, const char* prefix, size_t n);
