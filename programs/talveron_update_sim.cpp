// talveron-update-sim: one update run in the current directory, the product's own code path,
// against the emulated MIDI service and an emulated Brevanto device.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/parse_command_line.h"
#include "driver/run_command_line.h"
#include "emu/emulated_setup.h"
#include "platform/program_name.h"
#include "platform/win_base.h"

namespace {

constexpr int kLogNotWritten = 1;

// Refuses an output file that cannot be made before the run, not after it.
bool canWrite(const std::string& path) {
    return path.empty() || emu::writeFile(path, "");
}

}  // namespace

int main(int argc, char** argv) {
    ignoreClosedOutput();
    setProgramName("talveron-update-sim");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(emu::kSimUsage, stdout);
            return 0;
        }
    }
    // The updater's own options go to its command line, the rest are the simulator's.
    std::vector<const char*> runArgs{argv[0]};
    std::vector<std::string> simArgs;
    for (int i = 1; i < argc; ++i) {
        const int taken = runOptionArguments(argv[i]);
        if (taken == 0) {
            simArgs.push_back(argv[i]);
            continue;
        }
        runArgs.push_back(argv[i]);
        if (taken == 2 && i + 1 < argc) runArgs.push_back(argv[++i]);
    }
    emu::SimOptions options;
    std::string error;
    if (!emu::parseSimOptions(simArgs, options, error)) {
        printError("%s", error.c_str());
        std::fputs(emu::kSimUsage, stderr);
        return 2;
    }
    for (const std::string* path : {&options.wireLog, &options.flashed}) {
        if (!canWrite(*path)) {
            printError("cannot write %s", path->c_str());
            std::fputs(emu::kSimUsage, stderr);
            return 2;
        }
    }
    if (options.virtualTime && !emu::useVirtualTime(true)) {
        printError("no virtual time on this platform");
        std::fputs(emu::kSimUsage, stderr);
        return 2;
    }
    const auto device = emu::setUpEmulation(options);
    const int status =
        runCommandLine("talveron-update-sim", static_cast<int>(runArgs.size()), runArgs.data());
    bool written = true;
    if (!options.wireLog.empty()) {
        written = emu::writeFile(options.wireLog, emu::wireLogText(emu::sentMessages())) && written;
    }
    if (!options.flashed.empty()) {
        std::string image;
        if (device) image.assign(device->flashed().begin(), device->flashed().end());
        written = emu::writeFile(options.flashed, image) && written;
    }
    // A log asked for and not written would leave a caller comparing an empty or stale file: the
    // run's own status (always 0) gives way, as for brevanto-device.
    if (!written) {
        printError("cannot write the logs");
        return kLogNotWritten;
    }
    return status;
}
