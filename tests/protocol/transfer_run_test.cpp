// Record transfer, verdicts, retries and the progress line, as whole runs against the emulated
// device.
#include <gtest/gtest.h>

#include "sim_run.h"

namespace {

using namespace transcript;

const std::string kCrc = "\nThe CRC of the download file is error!\n";
const std::string kDamaged = "\nThe download file has been damaged!\n";
const std::string kRestart =
    "\rTransferring.. 100% done.  \nTarget update successfully!\n"
    "\nThe System is restart, please wait!\n\n";

// Records of 10 bytes each (LEN 8): one chunk each on the wire.
Bytes records(int n) {
    std::vector<Bytes> parts;
    for (int i = 0; i < n; ++i) parts.push_back(makeRecord(countingPayload(6, uint8_t(i * 16))));
    return concat(parts);
}

struct TransferCase {
    const char* name;
    Bytes image;
    std::vector<std::string> args;
    std::string transfer;  // from the first progress line to before the prompt
    size_t messages;       // on the wire, probe included
};

TEST(TransferRun, VerdictsAndProgress) {
    const std::vector<TransferCase> cases = {
        {"one record", records(1), {}, progress('-', 0) + kDone, 2},
        {"two equal records: hyphen at 0 and at 50",
         records(2),
         {},
         progress('-', 0) + progress('-', 50) + kDone,
         3},
        {"spinner turns a character every two records",
         records(5),
         {},
         progress('-', 0) + progress('-', 20) + progress('\\', 40) + progress('\\', 60) +
             progress('|', 80) + kDone,
         6},
        {"0x20 twice, then acknowledged",
         records(2),
         {"--reply", "1=0x20/2"},
         progress('-', 0) + kCrc + progress('-', 0) + kCrc + progress('-', 0) + progress('-', 50) +
             kDone,
         5},
        {"0x21 and 0x22 both say damaged",
         records(2),
         {"--reply", "1=0x21", "--reply", "2=0x22"},
         progress('-', 0) + kDamaged + progress('-', 0) + progress('-', 50) + kDamaged +
             progress('-', 50) + kDone,
         5},
        {"0x24 verify error",
         records(1),
         {"--reply", "1=0x24"},
         progress('-', 0) + "\nThe download file verifies error!\n" + progress('-', 0) + kDone,
         3},
        {"0x25 erase error",
         records(1),
         {"--reply", "1=0x25"},
         progress('-', 0) + "\nThe MCU erases error!\n" + progress('-', 0) + kDone,
         3},
        {"0x23 prints nothing and resends",
         records(2),
         {"--reply", "1=0x23"},
         progress('-', 0) + progress('-', 0) + progress('-', 50) + kDone,
         4},
        {"no answer once: silent resend",
         records(2),
         {"--reply", "2=none"},
         progress('-', 0) + progress('-', 50) + progress('-', 50) + kDone,
         4},
        {"0x77 on the last record ends with the restart message",
         records(2),
         {"--reply", "2=0x77"},
         progress('-', 0) + progress('-', 50) + kRestart,
         3},
        {"0x77 part-way ends the run there",
         records(3),
         {"--reply", "2=0x77"},
         progress('-', 0) + progress('-', 33) + kRestart,
         3},
        {"a record with a bad checksum on the device's side",
         records(1),
         {"--reply", "1=0x20/19"},
         times(progress('-', 0) + kCrc, 19) + progress('-', 0) + kDone,
         21},
    };
    for (const auto& c : cases) {
        const SimRun run = runSim(c.image, c.args);
        EXPECT_EQ(run.out, kHead + c.transfer + kPrompt) << c.name;
        EXPECT_EQ(run.exitStatus, 0) << c.name;
        EXPECT_EQ(run.wire.size(), c.messages) << c.name;
    }
}

TEST(TransferRun, TwentiethRejectionEndsTheRunWithoutItsMessage) {
    const SimRun run = runSim(records(2), {"--reply", "1=0x20/20"});
    EXPECT_EQ(run.out, kHead + times(progress('-', 0) + kCrc, 19) + progress('-', 0) +
                           "\nError in updating.\n" + kPrompt);
    EXPECT_EQ(run.wire.size(), 21u);  // the probe and 20 sends of record 1
}

TEST(TransferRun, TwentiethRestartReplyIsAnError) {
    // 0x77 counts as an unsuccessful attempt too; at the limit the restart message is not shown.
    const SimRun run = runSim(records(1), {"--reply", "1=0x23/19", "--reply", "1=0x77/20"});
    EXPECT_EQ(run.out, kHead + times(progress('-', 0), 20) + "\nError in updating.\n" + kPrompt);
}

TEST(TransferRun, DeviceFallingSilentPartWay) {
    const SimRun run = runSim(records(3), {"--silent-from", "2"});
    EXPECT_EQ(run.out,
              kHead + progress('-', 0) + times(progress('-', 33), 20) + kNotResponding + kPrompt);
    EXPECT_EQ(run.wire.size(), 22u);
}

TEST(TransferRun, EveryRecordGetsItsOwnTwentyAttempts) {
    // Record 1 is rejected 19 times and record 2 ignored 19 times; both still go through.
    const SimRun run = runSim(records(2), {"--reply", "1=0x20/19", "--reply", "2=none/19"});
    EXPECT_EQ(run.out, kHead + times(progress('-', 0) + kCrc, 19) + progress('-', 0) +
                           times(progress('-', 50), 20) + kDone + kPrompt);
}

TEST(TransferRun, UnpluggedMidTransfer) {
    // Records of 30 bytes go out as 46 + 14 characters; the fourth message fails.
    const Bytes image = concat({makeRecord(countingPayload(26)), makeRecord(countingPayload(26, 7)),
                                makeRecord(countingPayload(26, 9))});
    const SimRun run = runSim(image, {"--unplug-after", "3"});
    EXPECT_EQ(run.out, kHead + progress('-', 0) + progress('-', 33) +
                           "\nError: The MIDI Out of device is missing!\n\n" + kPrompt);
    EXPECT_EQ(run.wire.size(), 3u);
}

TEST(TransferRun, BusyOutputSlowsButCompletes) {
    const SimRun run = runSim(records(2), {"--busy-ms", "120"});
    EXPECT_EQ(run.out, kHead + progress('-', 0) + progress('-', 50) + kDone + kPrompt);
}

}  // namespace
