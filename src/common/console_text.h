#pragma once

#include <cstdio>

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
    // The command line's own texts: help, version, the device list (standard output) and why a
    // command line or a device choice is refused (standard error, after the program's name).
    kUsage,        // %s: the program's name
    kVersion,      // %s: the program's name, %s: its version
    kListHeading,  // %s: In or Out
    kListNone,
    kListDevice,       // %s: the mark, %u: the device's number, %s: its name
    kListDeviceNoted,  // the same, then %s: how the platform reaches it
    kListCut,          // %u: how many are listed
    kListMarkMeaning,
    kUnknownOption,      // %s: the program, %s: the argument
    kOptionNeedsValue,   // %s: the program, %s: the option
    kNoDeviceToChoose,   // %s: the program, %s: In or Out, %s: what was asked for
    kNoSuchDeviceIndex,  // %s: the program, %s: In or Out, %s: the number, %s: In or Out
    kNoSuchDeviceName,   // %s: the program, %s: In or Out, %s: the name, %s: In or Out
    kAmbiguousDevice,    // %s: the program, %s: the name, %s: In or Out
    kCandidateDevice,    // %u: the device's number, %s: its name
};

// Prints a text exactly as it stands in the table.
void printText(ConsoleText text);
// A text with one %s.
void printText(ConsoleText text, const char* name);
// The progress line.
void printText(ConsoleText text, char spinner, int percent);
// One of the command line's texts, on the stream given, with the arguments its format takes.
void printCommandLineText(std::FILE* stream, ConsoleText text, ...);
