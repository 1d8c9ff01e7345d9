#include "protocol/progress_line.h"

#include <cstdio>

#include "common/console_text.h"

namespace {

constexpr char kSpinnerCharacters[kSpinnerPositions] = {'-', '-', '\\', '\\', '|', '|', '/', '/'};

}  // namespace

void printProgressLine(Spinner& spinner, uint16_t percent) {
    printText(ConsoleText::kProgressLine, kSpinnerCharacters[spinner.position],
              static_cast<int>(percent));
    spinner.position = static_cast<uint8_t>((spinner.position + 1) % kSpinnerPositions);
    std::fflush(stdout);
}

void stepSpinnerBack(Spinner& spinner) {
    spinner.position =
        static_cast<uint8_t>((spinner.position + kSpinnerPositions - 1) % kSpinnerPositions);
}

uint16_t acknowledgedPercent(uint16_t acknowledged, uint16_t count) {
    return static_cast<uint16_t>(static_cast<uint32_t>(acknowledged) * 100u / count);
}
