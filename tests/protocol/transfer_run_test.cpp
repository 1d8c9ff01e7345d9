// Record transfer, verdicts, retries and the progress line, as whole runs against the emulated
// device.
#include <gtest/gtest.h>

#include "tests/protocol/sim_run.h"

namespace {

using namespace transcript;

// The device's other verdicts on a record, each on the line after the progress line.
const std::string kDamaged = afterProgress(golden::kDamaged);
const std::string kVerifyError = afterProgress(golden::kVerifyError);
const std::string kEraseError = afterProgress(golden::kEraseError);

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
         progress('-', 0) + kVerifyError + progress('-', 0) + kDone,
         3},
        {"0x25 erase error",
         records(1),
         {"--reply", "1=0x25"},
         progress('-', 0) + kEraseError + progress('-', 0) + kDone,
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

// Replies carry no sequence number: a verdict is waited for up to the device's latest answer time
// (6.25 s after the attempt went out), and a reply that cannot belong to the one send owed an
// answer ends the run. The device's stored image shows what each run really did.
struct InStepCase {
    const char* name;
    std::vector<std::string> args;
    std::string transfer;
    size_t messages;                 // on the wire, probes included
    std::vector<int> storedRecords;  // indexes into the kit's records, in the order stored
};

TEST(TransferRun, SuccessOnlyWhenEveryVerdictIsItsRecords) {
    const std::vector<Bytes> kit = {records(1), makeRecord(countingPayload(6, 16)),
                                    makeRecord(countingPayload(6, 32))};
    const std::string& kError = kUpdateError;
    const std::string kThreeRecords = progress('-', 0) + progress('-', 33) + progress('\\', 66);
    const std::string kResent2 =
        progress('-', 0) + progress('-', 33) + progress('-', 33) + progress('\\', 66);
    const std::vector<InStepCase> cases = {
        {"verdicts 2 s late on an Out port that is not instant: probe B too",
         {"--busy-ms", "1", "--delay-ms", "2000"},
         kThreeRecords + kDone,
         5,
         {0, 1, 2}},
        {"record 2's first verdict 5 s late: waited for, not resent",
         {"--late", "2=5000"},
         kThreeRecords + kDone,
         4,
         {0, 1, 2}},
        {"record 2's first verdict 790 ms late",
         {"--late", "2=790"},
         kThreeRecords + kDone,
         4,
         {0, 1, 2}},
        {"every answer at the latest answer time: four probes, their replies dropped",
         {"--delay-ms", "6250"},
         kThreeRecords + kDone,
         7,
         {0, 1, 2}},
        // Each record's one chunk of 22 bytes takes 220 ms on the link: were the verdict waited for
        // from when the chunk was handed over, these answers would come 220 ms too late.
        {"verdicts at the latest answer time after each last byte has played out on a slow link, "
         "midiOutLongMsg blocking",
         {"--link-rate", "100", "--driver", "sync", "--delay-ms", "6250"},
         kThreeRecords + kDone,
         7,
         {0, 1, 2}},
        {"the same with midiOutLongMsg returning at once and the header still playing",
         {"--link-rate", "100", "--driver", "async", "--delay-ms", "6250"},
         kThreeRecords + kDone,
         7,
         {0, 1, 2}},
        {"probe B's identity reply 1.6 s late is dropped before the first record",
         {"--delay-ms", "1600", "--busy-ms", "100"},
         kThreeRecords + kDone,
         5,
         {0, 1, 2}},
        {"record 2 once silent, never answered: resent, and a success",
         {"--reply", "2=none"},
         kResent2 + kDone,
         5,
         {0, 1, 2}},
        {"a late verdict and a lost one do not make up for each other",
         {"--late", "1=1194", "--reply", "3=none"},
         kThreeRecords + progress('\\', 66) + kDone,
         5,
         {0, 1, 2}},
        {"record 2's first verdict 6.6 s late, after its resend was answered: found by listening "
         "once more after the last record",
         {"--late", "2=6600"},
         kResent2 + kError,
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
}

// A noisy link: another program's message on the In port, or one answer heard twice. Ten records
// of 260 bytes go out as 12 chunks each (the device's messages 2 to 13 are record 1's); the device
// answers every message within 50 ms unless a row says otherwise. A reply taken for the wrong send
// puts every later verdict one send behind, and only listening past the last message's latest
// answer time shows it: the run must end in the update error or store exactly the kit.
TEST(TransferRun, NoisyLinkNeverEndsInAFalseSuccess) {
    std::vector<Bytes> parts;
    for (int i = 0; i < 10; ++i) parts.push_back(makeRecord(countingPayload(256, uint8_t(i))));
    const Bytes kit = concat(parts);
    const std::string kError = kUpdateError + kPrompt;
    const std::string kSuccess = kDone + kPrompt;
    struct NoisyCase {
        const char* name;
        std::vector<std::string> args;
        const std::string& ending;
    };
    const std::vector<NoisyCase> cases = {
        {"F0 20 F7 10 ms after record 1's last chunk", {"--stray", "13=0x20@10"}, kError},
        {"record 1's verdict heard twice, record 10 always rejected",
         {"--repeat-reply", "13@30", "--reply", "10=0x20/20"},
         kError},
        {"an acknowledgement that answers nothing, 1 ms after record 1's verdict",
         {"--stray", "13=0x1A@51"},
         kError},
        {"F0 F7 after the last record's verdict, within its latest answer time",
         {"--stray", "121=empty@6000"},
         kError},
        {"another program's identity reply before the device's own",
         {"--stray", "1=0x33@10"},
         kError},
        {"probe A's identity reply heard twice from a device 2 s late",
         {"--repeat-reply", "1", "--delay-ms", "2000"},
         kSuccess},
        {"the same, the second copy 4 s after the first",
         {"--repeat-reply", "1@4000", "--delay-ms", "2000"},
         kSuccess},
        {"a stray once the last message is past its latest answer time comes too late to matter",
         {"--stray", "121=0x1A@6600"},
         kSuccess},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--delay-ms", "50"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const SimRun run = runSim(kit, args);
        ASSERT_GE(run.out.size(), c.ending.size()) << c.name;
        EXPECT_EQ(run.out.substr(run.out.size() - c.ending.size()), c.ending) << c.name;
        if (&c.ending == &kSuccess) {
            EXPECT_EQ(run.out.find("successfully"), run.out.rfind("successfully")) << c.name;
            EXPECT_EQ(run.flashed, kit) << c.name;
        } else {
            EXPECT_EQ(run.out.find("successfully"), std::string::npos) << c.name;
        }
    }
}

TEST(TransferRun, ReplyWhileAnAttemptGoesOutStopsItThere) {
    // Record 2's first verdict comes 6.55 s late (50 ms past the listen), while record 3 (2,000
    // bytes, 87 chunks) is going out: nothing more is sent, and the device is left in its update
    // mode.
    const Bytes first = records(1);
    const Bytes second = makeRecord(countingPayload(6, 16));
    const Bytes third = makeRecord(countingPayload(1996, 32));
    const SimRun run = runSim(concat({first, second, third}), {"--late", "2=6550"});
    // Percentages of 2,020 bytes: the first two records are under 1 percent.
    EXPECT_EQ(run.out,
              kHead + times(progress('-', 0), 3) + progress('\\', 0) + kUpdateError + kPrompt);
    ASSERT_GT(run.wire.size(), 4u);
    EXPECT_LT(run.wire.size(), 4u + 87u);
    EXPECT_EQ(run.flashed, concat({first, second, second}));
}

TEST(TransferRun, LargestRecordAnsweredLateIsStoredOnce) {
    const Bytes image = makeRecord(countingPayload(65531 - 4));
    const SimRun run = runSim(image, {"--delay-ms", "2000"});
    EXPECT_EQ(run.out, kHead + progress('-', 0) + kDone + kPrompt);
    EXPECT_EQ(run.flashed, image);
}

TEST(TransferRun, SameCommandGivesTheSameRun) {
    // Answers right at the latest answer time, on a busy Out port: a millisecond either way would
    // change what is resent, so virtual time must not depend on the threads' pace.
    const std::vector<std::string> args = {"--delay-ms", "6250",   "--busy-ms",
                                           "1",          "--late", "2=6251"};
    const SimRun first = runSim(records(3), args);
    for (int i = 0; i < 4; ++i) {
        const SimRun again = runSim(records(3), args);
        EXPECT_EQ(again.out, first.out);
        EXPECT_EQ(again.wire, first.wire);
        EXPECT_EQ(again.flashed, first.flashed);
    }
}

TEST(TransferRun, TwentiethRejectionEndsTheRunWithoutItsMessage) {
    const SimRun run = runSim(records(2), {"--reply", "1=0x20/20"});
    EXPECT_EQ(run.out, kHead + times(progress('-', 0) + kCrc, 19) + progress('-', 0) +
                           kUpdateError + kPrompt);
    EXPECT_EQ(run.wire.size(), 21u);  // the probe and 20 sends of record 1
}

TEST(TransferRun, TwentiethRestartReplyIsAnError) {
    // 0x77 counts as an unsuccessful attempt too; at the limit the restart message is not shown.
    const SimRun run = runSim(records(1), {"--reply", "1=0x23/19", "--reply", "1=0x77/20"});
    EXPECT_EQ(run.out, kHead + times(progress('-', 0), 20) + kUpdateError + kPrompt);
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
    EXPECT_EQ(run.out,
              kHead + progress('-', 0) + progress('-', 33) + "\n" + kMidiOutMissing + kPrompt);
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
