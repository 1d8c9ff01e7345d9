#pragma once

// The one route of the programs' own messages on standard error: each on a line of its own after
// the program's name and ": ". The name is the one its entry point gives, so that a program keeps
// it under whatever file name it is started.
void setProgramName(const char* name);
const char* programName();

#ifdef __GNUC__
__attribute__((format(printf, 1, 2)))
#endif
void printError(const char* format, ...);
