#include "common/console_text.h"

#include <cstdarg>
#include <cstdio>

#include "common/run_outcome.h"

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
    // Held equal to the manual page's options and exit statuses by the tests.
    "usage: %s [options]\n"
    "Updates the firmware of a TALVERON Brevanto device with the first *.kit file of the current\n"
    "directory, over the first MIDI In and Out devices whose names do not begin with Microsoft.\n"
    "  --list          the MIDI In and Out devices, numbered; * marks those a run takes\n"
    "  --port DEVICE   the MIDI In and the MIDI Out device of this number or name\n"
    "  --in DEVICE     the MIDI In device of this number or name\n"
    "  --out DEVICE    the MIDI Out device of this number or name\n"
    "  --kit FILE      this kit file instead of the first *.kit of the current directory\n"
    "  --exit-status   the exit status tells the outcome; without it, a run exits 0\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "DEVICE is a number from --list or a name: the device of exactly that name, else the one\n"
    "device whose name begins with it, case ignored. A name that fits two devices is refused.\n"
    "Exit status with --exit-status: 0 updated (also when the device restarts by itself),\n"
    "3 kit file not found or refused, 4 no MIDI device, 5 device not responding, of another\n"
    "kind or still resetting, 6 update failed. A command line or a device choice that is\n"
    "refused exits 2, and nothing is sent.\n",
    "%s %s\n",
    "MIDI %s devices:\n",
    "  none\n",
    "%s%3u  %s\n",
    "%s%3u  %s (%s)\n",
    "  (more devices: only the first %u can be chosen)\n",
    "* the devices a run takes without --port, --in or --out\n",
    "%s: unknown option: %s\n",
    "%s: option %s needs a value\n",
    "%s: there is no MIDI %s device, so \"%s\" cannot be chosen\n",
    "%s: there is no MIDI %s device %s; the MIDI %s devices are:\n",
    "%s: no MIDI %s device is named \"%s\"; the MIDI %s devices are:\n",
    "%s: \"%s\" fits more than one MIDI %s device; choose one by its number:\n",
    "%3u  %s\n",
};
static_assert(sizeof kTexts / sizeof kTexts[0] ==
                  static_cast<size_t>(ConsoleText::kCandidateDevice) + 1,
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
    notePrintedText(text);
    printFormatted(format(text));
}

void printText(ConsoleText text, const char* name) {
    notePrintedText(text);
    printFormatted(format(text), name);
}

void printText(ConsoleText text, char spinner, int percent) {
    notePrintedText(text);
    printFormatted(format(text), spinner, percent);
}

void printCommandLineText(std::FILE* stream, ConsoleText text, ...) {
    std::va_list arguments;
    va_start(arguments, text);
    std::vfprintf(stream, format(text), arguments);
    va_end(arguments);
}
