// The typical successful run, line for line and byte for byte.
#include <gtest/gtest.h>

#include "tests/protocol/sim_run.h"

namespace {

using namespace transcript;

TEST(TypicalRun, ThreeRecordsEndSuccessfully) {
    // Three records: 7 bytes (one short chunk), 30 bytes (a full chunk and a short one), and
    // 46 bytes (two full chunks).
    const Bytes first = {0x00, 0x05, 0x01, 0x02, 0x03, 0xFA, 0xFF};
    const Bytes second = makeRecord(countingPayload(26, 0xF0));
    const Bytes third = makeRecord(countingPayload(42, 0x0A));
    const SimRun run = runSim(concat({first, second, third}), {});

    // 7 of 83 bytes acknowledged is 8 percent, 37 of 83 is 44 percent.
    EXPECT_EQ(run.out, kBanner + kOpen + kPortIn + kPortOut + kPortOut + progress('-', 0) +
                           progress('-', 8) + progress('\\', 44) +
                           std::string(golden::kTransferDone) + kSuccess + kPrompt);
    EXPECT_EQ(run.exitStatus, 0);

    auto chunkOf = [](const Bytes& record, size_t from, size_t n) {
        Bytes message{0xF0};
        for (size_t i = from; i < from + n; ++i) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X", record[i]);
            message.push_back(uint8_t(digits[0]));
            message.push_back(uint8_t(digits[1]));
        }
        message.push_back(0xF7);
        return hexOf(message);
    };
    const std::vector<std::string> expected = {
        kProbeAWire,
        "F0 30 30 30 35 30 31 30 32 30 33 46 41 46 46 F7",
        chunkOf(second, 0, 23),
        chunkOf(second, 23, 7),
        chunkOf(third, 0, 23),
        chunkOf(third, 23, 23),
    };
    EXPECT_EQ(run.wire, expected);
}

}  // namespace
