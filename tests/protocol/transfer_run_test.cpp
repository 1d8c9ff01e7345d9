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

// Replies carry no sequence number: a verdict that comes after its wait has ended is taken for a
// later send's. The device's stored image shows what each run really did.
struct InStepCase {
    const char* name;
    std::vector<std::string> args;
    std::string transfer;
    size_t messages;
    std::vector<int> storedRecords;  // indexes into the kit's records, in the order stored
};

TEST(TransferRun, SuccessOnlyWhenEveryVerdictIsItsRecords) {
    const std::vector<Bytes> kit = {records(1), makeRecord(countingPayload(6, 16)),
                                    makeRecord(countingPayload(6, 32))};
    const std::string kError = "\nError in updating.\n";
    const std::vector<InStepCase> cases = {
        {"verdicts 300 ms late are in time: as with a prompt device",
         {"--delay-ms", "300"},
         progress('-', 0) + progress('-', 33) + progress('\\', 66) + kDone,
         4,
         {0, 1, 2}},
        {"a verdict 775 ms late is in time: the window is at least 50 x 15.625 ms",
         {"--late", "1=775"},
         progress('-', 0) + progress('-', 33) + progress('\\', 66) + kDone,
         4,
         {0, 1, 2}},
        {"record 1 once silent, never answered: resent, and a success",
         {"--reply", "1=none"},
         progress('-', 0) + progress('-', 0) + progress('-', 33) + progress('\\', 66) + kDone,
         5,
         {0, 1, 2}},
        {"record 1's first verdict 1.5 s late: found by the listening after the last record",
         {"--late", "1=1500"},
         progress('-', 0) + progress('-', 0) + progress('-', 33) + progress('\\', 66) + kError,
         5,
         {0, 0, 1, 2}},
        {"record 2's first verdict 1.7 s late, after its resend was answered at once",
         {"--late", "2=1700"},
         progress('-', 0) + progress('-', 33) + progress('-', 33) + progress('\\', 66) + kError,
         5,
         {0, 1, 1, 2}},
    };
    for (const auto& c : cases) {
        const SimRun run = runSim(concat(kit), c.args);
        EXPECT_EQ(run.out, kHead + c.transfer + kPrompt) << c.name;
        EXPECT_EQ(run.wire.size(), c.messages) << c.name;
        std::vector<Bytes> stored;
        for (int i : c.storedRecords) stored.push_back(kit[size_t(i)]);
        EXPECT_EQ(run.flashed, concat(stored)) << c.name;
    }
    // A device slower than the verdict window on every record: whichever way its verdicts fall
    // behind, the run ends in an error, never in a success over a record stored twice.
    for (const char* delay : {"790", "800", "1000", "1500", "1600", "2400"}) {
        const SimRun run = runSim(concat(kit), {"--delay-ms", delay});
        EXPECT_EQ(run.out.find("successfully"), std::string::npos) << delay;
        EXPECT_NE(run.out.find(kError + kPrompt), std::string::npos) << delay;
        EXPECT_NE(run.flashed, concat(kit)) << delay;
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

TEST(TransferRun, ClosedStandardOutputDoesNotCutTheUpdateShort) {
    // Standard output is a pipe nobody reads: the first write fails, and the update goes on.
    ScratchDir dir;
    dir.write("Brevanto.kit", kitText(records(3)));
    const std::string flashed = (dir.path() / "flashed.bin").string();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        if (std::freopen("/dev/null", "r", stdin) == nullptr || chdir(dir.path().c_str()) != 0)
            _exit(127);
        alarm(kRunLimitSeconds);
        execl(TALVERON_UPDATE_SIM_EXE, TALVERON_UPDATE_SIM_EXE, "--virtual-time", "yes",
              "--flashed", flashed.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream stored(flashed, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(stored), std::istreambuf_iterator<char>()),
              records(3));
}

}  // namespace
