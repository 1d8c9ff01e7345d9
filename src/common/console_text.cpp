#include "common/console_text.h"

#include <cstdarg>
#include <cstdio>

namespace {

// In the order of the enumeration.
constexpr const char* kTexts[] = {
    "TALVERON Update V0.5 -> TALVERON Brevanto System\n",
    "Error: File '%s' is not found.\n\n",
    "Error: The fit file is not found.\n\n",
    "OK: File '%s' is open.\n",
    "Error: The upgrade file is error!\n\n",
    // Printed for every device opened, also for those the name filter then skips. Fixed text: the
    // device's own name is not shown.
    "MIDI IN DEVICE: TALVERON Device\r\n",
    "MIDI OUT DEVICE: TALVERON Device\r\n",
    "Error: The MIDI In of device is missing!\n\n",
    "Error: The MIDI Out of device is missing!\n\n",
    "\nFailed: Target is not responding.\n\n",
    "Please wait the system reset and retry again!\n\n",
    "Error: The device and the upgrade file is not matched!\n\n",
    // Carriage return, 24 spaces to wipe the line, carriage return, then the text.
    "\r                        \rTransferring.. %c %d%% done",
    "\n",
    "\rTransferring.. 100%% done.  \n",
    "Target update successfully!\n",
    "\nThe System is restart, please wait!\n\n",
    "\nError in updating.\n",
    "\nThe CRC of the download file is error!\n",
    "\nThe download file has been damaged!\n",
    "\nThe download file verifies error!\n",
    "\nThe MCU erases error!\n",
};
static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<size_t>(ConsoleText::kEraseError) + 1,
              "one text for every entry of ConsoleText");

// The one place that prints: every text is a format, also those without a conversion, so that
// "%%" prints one percent sign wherever it stands.
void printFormatted(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

const char* format(ConsoleText text) {
    return kTexts[static_cast<size_t>(text)];
}

}  // namespace

void printText(ConsoleText text) {
    printFormatted(format(text));
}

void printText(ConsoleText text, const char* name) {
    printFormatted(format(text), name);
}

void printText(ConsoleText text, char spinner, int percent) {
    printFormatted(format(text), spinner, percent);
}
