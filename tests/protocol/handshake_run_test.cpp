// The handshake as whole runs against the emulated device.
#include <gtest/gtest.h>

#include "tests/protocol/sim_run.h"

namespace {

using namespace transcript;

const Bytes kOneRecord = makeRecord({1, 2, 3});
const std::string kRecordWire = "F0 30 30 30 35 30 31 30 32 30 33 46 41 46 46 F7";

struct HandshakeCase {
    const char* name;
    std::vector<std::string> args;
    std::string outcome;  // what follows the device lines
    std::vector<std::string> wire;
};

TEST(HandshakeRun, OneReplyDecides) {
    const std::vector<HandshakeCase> cases = {
        {"device answering both probes", {}, progress('-', 0) + kDone, {kProbeAWire, kRecordWire}},
        {"device answering only probe B is found on attempt 2",
         {"--probes", "B"},
         progress('-', 0) + kDone,
         {kProbeAWire, kProbeBWire, kRecordWire}},
        {"device still resetting", {"--identity", "0x15"}, last(golden::kResetting), {kProbeAWire}},
        {"device of another kind is not retried",
         {"--identity", "0x34"},
         kNotMatched,
         {kProbeAWire}},
        {"identity 0 is another kind too", {"--identity", "0"}, kNotMatched, {kProbeAWire}},
        {"output unplugged before the first probe", {"--unplug-after", "0"}, kMidiOutMissing, {}},
    };
    for (const auto& c : cases) {
        const SimRun run = runSim(kOneRecord, c.args);
        EXPECT_EQ(run.out, kHead + c.outcome + kPrompt) << c.name;
        EXPECT_EQ(run.exitStatus, 0) << c.name;
        EXPECT_EQ(run.wire, c.wire) << c.name;
    }
}

TEST(HandshakeRun, SilentDeviceCostsNineteenAttempts) {
    const SimRun run = runSim(kOneRecord, {"--probes", "none"});
    EXPECT_EQ(run.out, kHead + kNotResponding + kPrompt);
    EXPECT_EQ(run.exitStatus, 0);
    // Probe A on odd attempts, B on even ones: A ten times, B nine times, A first and last.
    std::vector<std::string> expected;
    for (int attempt = 1; attempt <= 19; ++attempt) {
        expected.push_back(attempt % 2 ? kProbeAWire : kProbeBWire);
    }
    EXPECT_EQ(run.wire, expected);
}

TEST(HandshakeRun, NoInputPortOrOutputPortMeansNoDevice) {
    struct PortCase {
        const char* name;
        std::vector<std::string> args;
        std::string expected;
    };
    const std::vector<PortCase> cases = {
        {"no In devices", {"--in-ports", ""}, kBanner + kOpen + kMidiInMissing + kPrompt},
        {"only the system synth on Out",
         {"--out-ports", "Microsoft GS Wavetable Synth"},
         kBanner + kOpen + kPortIn + kPortOut + kMidiOutMissing + kPrompt},
    };
    for (const auto& c : cases) {
        const SimRun run = runSim(kOneRecord, c.args);
        EXPECT_EQ(run.out, c.expected) << c.name;
        EXPECT_TRUE(run.wire.empty()) << c.name;
    }
}

}  // namespace
