#pragma once

// The program's options. With none, a run is the one the program has always made; every option
// only adds to it. Values point into the arguments main was given.
struct RunOptions {
    bool help;
    bool version;
    bool list;
    bool exitStatus;
    const char* port;  // both directions; --in and --out take precedence for their own
    const char* in;
    const char* out;
    const char* kit;
};

// Reads the arguments after the program's name, each option as "--name value" or "--name=value";
// of an option given twice, the last counts. A command line it cannot read is refused with why
// and the usage on standard error: false.
bool parseCommandLine(const char* programName, int count, const char* const* arguments,
                      RunOptions& options);

// How many of the arguments from this one on belong to one of the program's options: 0 for an
// argument that is none of them, 2 for one whose value is the next argument. For a program that
// takes other options beside these.
int runOptionArguments(const char* argument);
