// talveron-update-sim: one update run in the current directory, the product's own code path,
// against the emulated MIDI service and an emulated Brevanto device.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/run_update.h"
#include "emulated_setup.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(emu::kSimUsage, stdout);
            return 0;
        }
    }
    emu::SimOptions options;
    std::string error;
    if (!emu::parseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "talveron-update-sim: %s\n%s", error.c_str(), emu::kSimUsage);
        return 2;
    }
    std::FILE* wireLog = nullptr;
    if (!options.wireLog.empty()) {
        wireLog = std::fopen(options.wireLog.c_str(), "wb");
        if (wireLog == nullptr) {
            std::fprintf(stderr, "talveron-update-sim: cannot write %s\n%s",
                         options.wireLog.c_str(), emu::kSimUsage);
            return 2;
        }
    }
    const auto device = emu::setUpEmulation(options);
    const int status = runUpdate();
    if (wireLog != nullptr) {
        const std::string text = emu::wireLogText(emu::sentMessages());
        std::fwrite(text.data(), 1, text.size(), wireLog);
        if (std::fclose(wireLog) != 0) {
            std::fprintf(stderr, "talveron-update-sim: cannot write %s\n", options.wireLog.c_str());
        }
    }
    return status;
}
