#include "driver/run_command_line.h"

#include <cstdio>

#include "common/console_text.h"
#include "common/run_outcome.h"
#include "driver/choose_ports.h"
#include "driver/parse_command_line.h"
#include "driver/print_midi_devices.h"
#include "driver/run_update.h"
#include "platform/program_name.h"

int runCommandLine(const char* programName, int argc, const char* const* argv) {
    // The name the port system's messages on standard error go under, too.
    setProgramName(programName);
    RunOptions options;
    if (!parseCommandLine(programName, argc - 1, argv + 1, options)) {
        return kUsageExitStatus;
    }
    if (options.help) {
        printCommandLineText(stdout, ConsoleText::kUsage, programName);
        return 0;
    }
    if (options.version) {
        printCommandLineText(stdout, ConsoleText::kVersion, programName, TALVERON_VERSION);
        return 0;
    }
    if (options.list) {
        printMidiDevices();
        return 0;
    }
    // Static: it holds two device names.
    static RunChoice choice;
    choice.kitFile = options.kit;
    if (!choosePorts(programName, options, choice.ports)) {
        return kUsageExitStatus;
    }
    const int status = runUpdate(choice);
    return options.exitStatus ? static_cast<int>(runOutcome()) : status;
}
