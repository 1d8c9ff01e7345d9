#pragma once

#include "common/console_text.h"

// How a run ended, as the exit status tells it when the user asks for that: read from the
// messages the run printed, since each stage that stops prints its one message.
enum class RunOutcome {
    kSuccess = 0,         // also a device that restarts by its own word
    kKitRefused = 3,      // no kit file, not a Brevanto kit, unreadable or damaged
    kNoMidiDevice = 4,    // no MIDI In or Out device to open, or one that refuses to send
    kDeviceNotReady = 5,  // no answer, another kind of device, or one still resetting
    kUpdateFailed = 6,    // the transfer began and did not end in success
};

// The exit status of a command line the program refuses, or of a device it cannot choose.
constexpr int kUsageExitStatus = 2;

// Notes a text as it is printed; printText calls it for every text.
void notePrintedText(ConsoleText text);

// The outcome of the texts printed so far. A run that printed no verdict has not succeeded.
RunOutcome runOutcome();

// Back to a run that has printed nothing.
void resetRunOutcome();
