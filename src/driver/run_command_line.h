#pragma once

// The program as started from a command line: with no arguments, the one update run it has
// always made, exit status 0; the options ask for help, the version, the device list, a device,
// a kit file or an exit status that tells the outcome. Returns the exit status.
int runCommandLine(const char* programName, int argc, const char* const* argv);
