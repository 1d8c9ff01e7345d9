// The simulator's command line is an interface tests and users rely on: bad options are refused
// before anything runs.
#include <gtest/gtest.h>

#include "tests/protocol/sim_run.h"

namespace {

TEST(SimOptions, BadOptionsExitTwoBeforeTheRun) {
    const std::vector<std::vector<std::string>> cases = {
        {"--identity", "256"},
        {"--identity", "0x1G"},
        {"--identity", "-1"},
        {"--probes", "C"},
        {"--reply", "0=0x20"},
        {"--reply", "1"},
        {"--reply", "1=0x20/0"},
        {"--reply", "x=0x20"},
        {"--silent-from", "0"},
        {"--busy-ms", "-5"},
        {"--unplug-after", "many"},
        {"--delay-ms"},
        {"--wire-log", "/nonexistent/dir/wire.txt"},
        {"--flashed", "/nonexistent/dir/flashed.bin"},
        {"--late", "1"},
        {"--late", "0=100"},
        {"--late", "1=100/0"},
        {"--late", "1=-5"},
        {"--stray", "0=0x20"},
        {"--stray", "1"},
        {"--stray", "1=0x100"},
        {"--stray", "1=0x20@-1"},
        {"--stray", "1=none"},
        {"--repeat-reply", "0"},
        {"--repeat-reply", "1@soon"},
        {"--link-rate", "0"},
        {"--link-rate", "-3125"},
        {"--link-rate", "fast"},
        {"--link-rate", "10000001"},
        {"--driver", "blocking"},
        {"--virtual-time", "maybe"},
        {"--frobnicate", "1"},
        {"--device-port", ""},
    };
    for (const auto& args : cases) {
        ScratchDir dir;
        dir.write("Brevanto.kit", kitText(makeRecord({1})));
        const ProcessResult result = runProcess(TALVERON_UPDATE_SIM_EXE, args, dir.path());
        EXPECT_EQ(result.exitStatus, 2) << args[0];
        EXPECT_EQ(result.out, "") << args[0];
    }
}

TEST(SimOptions, GoodSpellingsAreAccepted) {
    using namespace transcript;
    const std::string success = kHead + progress('-', 0) + kDone + kPrompt;
    const std::vector<std::vector<std::string>> cases = {
        {"--identity", "51"},
        {"--identity=0X33"},
        {"--reply", "1=26"},
        {"--delay-ms", "20"},
        {"--late", "2=300/2"},
        {"--device-port", "Brevanto MIDI", "--probes", "AB"},
        {"--link-rate", "3125", "--driver", "sync"},
        {"--link-rate=10000000", "--driver=async"},
        {"--stray=3=empty@5", "--stray", "9=0x20"},  // a one-record kit is two messages
        {"--repeat-reply", "3@10", "--late", "1=10", "--late", "1=20/3"},
    };
    for (const auto& args : cases) {
        const SimRun run = runSim(makeRecord({1}), args);
        EXPECT_EQ(run.out, success) << args[0];
        EXPECT_EQ(run.exitStatus, 0) << args[0];
    }
}

// A log that could be made before the run but not written at its end (a full disk) fails the run
// after its usual transcript: a caller never compares a log that is not there.
TEST(SimOptions, LogNotWrittenAtTheEndExitsOne) {
    using namespace transcript;
    const std::string success = kHead + progress('-', 0) + kDone + kPrompt;
    for (const char* option : {"--wire-log", "--flashed"}) {
        ScratchDir dir;
        dir.write("Brevanto.kit", kitText(makeRecord({1})));
        const ProcessResult result = runProcess(
            TALVERON_UPDATE_SIM_EXE, {"--virtual-time", "yes", option, "/dev/full"}, dir.path());
        EXPECT_EQ(result.out, success) << option;
        EXPECT_EQ(result.exitStatus, 1) << option;
    }
}

TEST(SimOptions, HelpPrintsTheUsageAndExitsZero) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"--identity", "0x15", "-h"}}) {
        ScratchDir dir;
        const ProcessResult result = runProcess(TALVERON_UPDATE_SIM_EXE, args, dir.path());
        EXPECT_EQ(result.exitStatus, 0) << args[0];
        EXPECT_EQ(result.out.rfind("usage: talveron-update-sim [options]", 0), 0u) << args[0];
    }
}

}  // namespace
