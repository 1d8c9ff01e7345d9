#pragma once

// Every text the updater prints, each kept once in one table with its exact bytes. The texts are
// printf formats: "%%" prints one percent sign, and the few with a conversion take its argument.
enum class ConsoleText {
    kBanner,
    // Finding and loading the kit file
    kFileNotFound,  // %s: the pattern searched for, or the kit file's name
    kFamilyNotFound,
    kFileOpen,  // %s: the kit file's name
    kUpgradeFileError,
    // Opening the ports
    kMidiInDevice,
    kMidiOutDevice,
    kMidiInMissing,
    kMidiOutMissing,
    // The handshake and the transfer
    kNotResponding,
    kResetting,
    kNotMatched,
    kProgressLine,  // %c: the spinner, %d: the percent
    kLineEnd,       // one line feed: off the progress line, or an empty line after a message
    kDone,
    kSuccess,
    kRestarting,
    kUpdateError,
    kCrcError,
    kDamaged,
    kVerifyError,
    kEraseError,
};

// Prints a text exactly as it stands in the table.
void printText(ConsoleText text);
// A text with one %s.
void printText(ConsoleText text, const char* name);
// The progress line.
void printText(ConsoleText text, char spinner, int percent);
