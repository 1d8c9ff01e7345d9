// Whole runs of the simulator with the options a user adds: the device named, the kit named, the
// device list, and the exit status that tells the outcome. A refused choice sends nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/protocol/sim_run.h"

namespace {

using namespace transcript;

// A text of the device choice, from its printf format among the golden texts.
template <typename... Args>
std::string said(std::string_view format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, std::string(format).c_str(), args...);
    return text;
}
std::string refused(const std::string& why) {
    return "talveron-update-sim: " + why;
}
std::string candidates(const char* first, const char* second) {
    return said(golden::kChoiceCandidate, 0u, first) + said(golden::kChoiceCandidate, 1u, second);
}
std::string listed(const char* mark, unsigned number, const char* name) {
    return said(golden::kListDevice, mark, number, name);
}

const std::vector<std::string> kKeyboardFirst = {"--in-ports", "USB Keyboard,Brevanto MIDI",
                                                 "--out-ports", "USB Keyboard,Brevanto MIDI"};
const std::string kOnePortEach = kPortIn + kPortOut;

#ifdef TALVERON_SIM_STDERR_SEEN
constexpr bool kSimStandardErrorSeen = true;
#else
constexpr bool kSimStandardErrorSeen = false;
#endif

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(DeviceChoiceRun, TheNamedDeviceIsUpdatedWhereTheFirstIsAnother) {
    const Bytes image = concat({makeRecord({1, 2, 3}), makeRecord(countingPayload(30))});
    const SimRun run = runSim(image, with(kKeyboardFirst, {"--port", "Brevanto"}));
    EXPECT_EQ(run.out, kBanner + kOpen + kOnePortEach + progress('-', 0) + progress('-', 17) +
                           kDone + kPrompt);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.flashed, image);
    EXPECT_EQ(run.wire.front(), kProbeAWire);

    // Without the choice the keyboard is taken, as ever, and the Brevanto never hears a probe.
    const SimRun bare = runSim(image, kKeyboardFirst);
    EXPECT_EQ(bare.out, kBanner + kOpen + kOnePortEach + kNotResponding + kPrompt);
    EXPECT_TRUE(bare.flashed.empty());
}

struct RefusedCase {
    const char* what;
    std::vector<std::string> args;
    std::string err;
};

TEST(DeviceChoiceRun, AnUnknownOrAmbiguousChoiceIsRefusedBeforeAnythingIsSent) {
    const std::vector<RefusedCase> cases = {
        {"a number past the last device", with(kKeyboardFirst, {"--port", "5"}),
         refused(said(golden::kChoiceNoNumber, "In", "5", "In")) +
             candidates("USB Keyboard", "Brevanto MIDI")},
        {"a prefix of two names",
         {"--in-ports", "Port 1,Port 10", "--out-ports", "Port 1,Port 10", "--port=port"},
         refused(said(golden::kChoiceAmbiguous, "port", "In")) + candidates("Port 1", "Port 10")},
        {"an unknown Out name", with(kKeyboardFirst, {"--in", "1", "--out", "Synth"}),
         refused(said(golden::kChoiceNoName, "Out", "Synth", "Out")) +
             candidates("USB Keyboard", "Brevanto MIDI")},
        {"no device at all",
         {"--in-ports", "", "--out-ports", "", "--port", "Brevanto"},
         refused(said(golden::kChoiceNone, "In", "Brevanto"))},
    };
    for (const RefusedCase& c : cases) {
        ScratchDir dir;
        dir.write("Brevanto.kit", kitText(makeRecord({1})));
        const std::string wire = (dir.path() / "wire.txt").string();
        const ProcessResult result =
            runProcess(TALVERON_UPDATE_SIM_EXE,
                       with(c.args, {"--virtual-time", "yes", "--wire-log", wire}), dir.path());
        EXPECT_EQ(result.exitStatus, 2) << c.what;
        EXPECT_EQ(result.out, "") << c.what;
        // A stand-in for the simulator (the Windows build under Wine) keeps its standard error.
        if (kSimStandardErrorSeen) {
            EXPECT_EQ(result.err, c.err) << c.what;
        }
        EXPECT_EQ(std::filesystem::file_size(wire), 0u) << c.what;
    }
}

// A device the user names is taken even when its name is the system's own: the run opens it
// alone, with one line, and the Brevanto behind the other port never hears a probe.
TEST(DeviceChoiceRun, ANamedSystemDeviceIsOpenedAlone) {
    const SimRun run = runSim(makeRecord({1}), {"--out", "microsoft"});
    EXPECT_EQ(run.out, kBanner + kOpen + kOnePortEach + kNotResponding + kPrompt);
    EXPECT_TRUE(run.flashed.empty());
}

TEST(DeviceChoiceRun, TheListNumbersEveryDeviceAndMarksThoseARunTakes) {
    ScratchDir dir;
    const ProcessResult result =
        runProcess(TALVERON_UPDATE_SIM_EXE,
                   {"--in-ports", "USB Keyboard,Brevanto MIDI", "--out-ports",
                    "Microsoft GS Wavetable Synth,Brevanto MIDI,Brevanto MIDI", "--list"},
                   dir.path());
    const std::string outs = said(golden::kListHeading, "Out") +
                             listed(" ", 0, "Microsoft GS Wavetable Synth") +
                             listed("*", 1, "Brevanto MIDI");
    const std::string marks(golden::kListMarks);
    EXPECT_EQ(result.out, said(golden::kListHeading, "In") + listed("*", 0, "USB Keyboard") +
                              listed(" ", 1, "Brevanto MIDI") + outs +
                              listed(" ", 2, "Brevanto MIDI") + marks);
    EXPECT_EQ(result.exitStatus, 0);

    const ProcessResult none =
        runProcess(TALVERON_UPDATE_SIM_EXE, {"--in-ports", "", "--list"}, dir.path());
    EXPECT_EQ(none.out,
              said(golden::kListHeading, "In") + std::string(golden::kListNone) + outs + marks);
}

// The kit file by a path of its own; the family still comes from its name.
TEST(DeviceChoiceRun, TheNamedKitFileIsTakenByItsPath) {
    const Bytes image = makeRecord({1, 2, 3});
    struct KitCase {
        std::string kit;
        std::string expected;
    };
    const std::vector<KitCase> cases = {
        {"releases/Brevanto_v2.kit", kBanner + opened("releases/Brevanto_v2.kit") + kPorts +
                                         progress('-', 0) + kDone + kPrompt},
        {"releases/missing/Brevanto.kit",
         kBanner + notFound("releases/missing/Brevanto.kit") + kPrompt},
        {"releases/Other.kit", kBanner + kFitNotFound + kPrompt},
        {"Brevanto_dir/other.kit", kBanner + kFitNotFound + kPrompt},
    };
    for (const KitCase& c : cases) {
        ScratchDir dir;
        // The current directory's own kit would be the bare run's: the named one must win.
        dir.write("Brevanto.kit", "00");
        std::filesystem::create_directory(dir.path() / "releases");
        dir.write("releases/Brevanto_v2.kit", kitText(image));
        dir.write("releases/Other.kit", kitText(image));
        const ProcessResult result = runProcess(
            TALVERON_UPDATE_SIM_EXE, {"--virtual-time", "yes", "--kit", c.kit}, dir.path());
        EXPECT_EQ(result.out, c.expected) << c.kit;
        EXPECT_EQ(result.exitStatus, 0) << c.kit;
    }
}

struct StatusCase {
    const char* what;
    std::vector<std::string> args;
    int status;
};

void expectStatuses(const std::vector<StatusCase>& cases) {
    const Bytes twoRecords = concat({makeRecord({1}), makeRecord({2})});
    for (const StatusCase& c : cases) {
        ScratchDir dir;
        dir.write("Brevanto.kit", kitText(twoRecords));
        dir.write("Other.kit", kitText(twoRecords));
        dir.write("Brevanto_damaged.kit", kitText(Bytes{0x00, 0x05, 0x01}));
        const std::vector<std::string> common = {"--virtual-time", "yes"};
        const ProcessResult asked = runProcess(
            TALVERON_UPDATE_SIM_EXE, with(with(common, c.args), {"--exit-status"}), dir.path());
        EXPECT_EQ(asked.exitStatus, c.status) << c.what;
        // Without the option the run's status is 0, as it has always been.
        const ProcessResult plain =
            runProcess(TALVERON_UPDATE_SIM_EXE, with(common, c.args), dir.path());
        EXPECT_EQ(plain.exitStatus, 0) << c.what;
        EXPECT_EQ(plain.out, asked.out) << c.what;
    }
}

TEST(DeviceChoiceRun, TheExitStatusTellsTheOutcomeWhenAskedFor) {
    expectStatuses({
        {"updated", {}, 0},
        {"restarting by its own word", {"--reply", "2=0x77"}, 0},
        {"a kit of another family", {"--kit", "Other.kit"}, 3},
        {"a kit that is not there", {"--kit", "Brevanto_v9.kit"}, 3},
        {"a damaged kit", {"--kit", "Brevanto_damaged.kit"}, 3},
        {"no MIDI In device", {"--in-ports", ""}, 4},
        {"no MIDI Out device", {"--out-ports", "Microsoft GS Wavetable Synth"}, 4},
        {"still resetting", {"--identity", "0x15"}, 5},
        {"another kind of device", {"--identity", "0x34"}, 5},
        {"rejected to the end", {"--reply", "1=0x20/20"}, 6},
    });
}

// The outcomes that are mostly a silent device's waits: minutes on a real clock.
TEST(DeviceChoiceRun, TheExitStatusAfterTheLongWaits) {
    expectStatuses({
        {"no answer", {"--probes", "none"}, 5},
        {"silent part-way", {"--silent-from", "2"}, 6},
        {"unplugged part-way", {"--unplug-after", "2"}, 6},
    });
}

}  // namespace
