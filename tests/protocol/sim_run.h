#pragma once

// Whole runs of talveron-update-sim on a kit in a scratch directory: its exact standard output,
// exit status, wire log and what the device stored; the pieces of transcript the checks are built
// from are in support/transcript.h. The runs are on virtual time: a reply wait of seconds costs
// none.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/kit_builder.h"
#include "tests/support/run_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/transcript.h"

struct SimRun {
    std::string out;
    int exitStatus;
    std::vector<std::string> wire;  // one message a line, as hex
    Bytes flashed;                  // what the device stored
};

inline SimRun runSim(const Bytes& image, std::vector<std::string> args) {
    ScratchDir dir;
    dir.write("Brevanto.kit", kitText(image));
    args.insert(args.end(),
                {"--virtual-time", "yes", "--wire-log", (dir.path() / "wire.txt").string(),
                 "--flashed", (dir.path() / "flashed.bin").string()});
    const ProcessResult result = runProcess(TALVERON_UPDATE_SIM_EXE, args, dir.path());
    SimRun run{result.out, result.exitStatus, {}, {}};
    std::ifstream wire(dir.path() / "wire.txt");
    for (std::string line; std::getline(wire, line);) run.wire.push_back(line);
    std::ifstream flashed(dir.path() / "flashed.bin", std::ios::binary);
    run.flashed.assign(std::istreambuf_iterator<char>(flashed), std::istreambuf_iterator<char>());
    return run;
}

const std::string kProbeAWire = "F0 4C 2E 93 07 8D 21 95 F7";
const std::string kProbeBWire = "F0 6B 31 5D 48 0F 72 29 F7";
