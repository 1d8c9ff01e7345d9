#pragma once

#include <cstdint>

constexpr uint8_t kSpinnerPositions = 8;

// The spinner's next character; each of - \ | / shows twice in a row.
struct Spinner {
    uint8_t position;  // 0 to 7
};

// Rewrites the progress line in place with the spinner's character and the percent, advances the
// spinner and flushes standard output.
void printProgressLine(Spinner& spinner, uint16_t percent);

// A resent record shows the same character again.
void stepSpinnerBack(Spinner& spinner);

// Percent of the image acknowledged, truncated.
uint16_t acknowledgedPercent(uint16_t acknowledged, uint16_t count);
