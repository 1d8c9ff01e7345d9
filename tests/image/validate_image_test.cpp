#include "image/validate_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/decode_kit_text.h"
#include "tests/support/kit_builder.h"
#include "tests/support/run_process.h"
#include "tests/support/scratch_dir.h"

namespace {

ImageBuffer image;

bool validates(const Bytes& bytes) {
    // An empty vector's data() may be null, which memcpy must never be given.
    if (!bytes.empty()) std::memcpy(image.bytes, bytes.data(), bytes.size());
    image.count = static_cast<uint16_t>(bytes.size());
    return imageIsValid(image);
}

struct ValidationCase {
    const char* name;
    Bytes image;
    bool valid;
};

TEST(ValidateImage, RecordTable) {
    // LEN 5: three data bytes 01 02 03 and their checksum FA FF.
    const Bytes shortRecord = {0x00, 0x05, 0x01, 0x02, 0x03, 0xFA, 0xFF};
    const std::vector<ValidationCase> cases = {
        {"one short record", shortRecord, true},
        {"builder agrees with the short record", makeRecord({1, 2, 3}), true},
        {"checksum bytes swapped", {0x00, 0x05, 0x01, 0x02, 0x03, 0xFF, 0xFA}, false},
        {"swapped but equal checksum bytes", makeRecord({0x01, 0x00}), true},
        {"LEN 2 with checksum 00 00", {0x00, 0x02, 0x00, 0x00}, true},
        {"LEN 2 with another checksum", {0x00, 0x02, 0x01, 0x00}, false},
        {"payload byte damaged", {0x00, 0x05, 0x01, 0x02, 0x04, 0xFA, 0xFF}, false},
        {"length field not covered by the checksum",
         concat({makeRecord({9}), makeRecord({1, 2, 3})}), true},
        {"several records", concat({shortRecord, makeRecord(countingPayload(300)), shortRecord}),
         true},
        {"second record damaged",
         concat({shortRecord, {0x00, 0x03, 0x10, 0xF0, 0xFE}, shortRecord}), false},
        {"length field damaged moves later boundaries",
         concat({{0x00, 0x06, 0x01, 0x02, 0x03, 0xFA, 0xFF}, shortRecord}), false},
        // Refusals that keep an unusable image away from a device.
        {"empty image", {}, false},
        {"LEN 0", {0x00, 0x00, 0x00, 0x00}, false},
        {"LEN 1", {0x00, 0x01, 0x00}, false},
        {"LEN 0xFFFE wraps T to 0", concat({shortRecord, {0xFF, 0xFE, 0x00, 0x00}}), false},
        {"LEN 0xFFFF wraps T to 1", concat({shortRecord, {0xFF, 0xFF, 0x00, 0x00}}), false},
        {"record reaches past the image", {0x00, 0x05, 0x01, 0x02, 0x03, 0xFA}, false},
        {"lone trailing byte", concat({shortRecord, {0x00}}), false},
        {"lone trailing zero after a LEN 2 record", {0x00, 0x02, 0x00, 0x00, 0x00}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(validates(c.image), c.valid) << c.name << ": " << hexOf(c.image);
    }
}

TEST(ValidateImage, LargestRecordFillsTheWholeCount) {
    // LEN 0xFFFD: one record of 65,535 bytes, as large as the count allows.
    Bytes record = makeRecord(countingPayload(65531));
    ASSERT_EQ(record.size(), 65535u);
    EXPECT_TRUE(validates(record));
    record[40000] ^= 0x01;
    EXPECT_FALSE(validates(record));
}

TEST(ValidateImage, PayloadSumWrapsAt16Bits) {
    // 300 bytes of 0xFF sum past 65,536; the checksum is taken modulo 65,536.
    EXPECT_TRUE(validates(makeRecord(Bytes(300, 0xFF))));
}

// The sample-kit tool writes exactly the bytes asked for, in valid records, even where a full
// page would leave less than a record behind; and it takes decimal sizes only.
TEST(ValidateImage, SampleKitsAreExactlyAsLongAsAsked) {
    const struct {
        std::string size;
        int exitStatus;
        uint16_t bytes;  // the image's length when written
    } cases[] = {
        {"4", 0, 4},     {"5", 0, 5},    {"261", 0, 261},     {"263", 0, 263},
        {"264", 0, 264}, {"010", 0, 10}, {"65535", 0, 65535}, {"3", 2, 0},
        {"10abc", 2, 0}, {"0x10", 2, 0}, {"65536", 2, 0},     {"", 2, 0},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const ProcessResult result =
            runProcess(MAKE_SAMPLE_KIT_EXE, {"kit.hex", c.size}, dir.path());
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.size;
        std::FILE* file = std::fopen((dir.path() / "kit.hex").c_str(), "rb");
        EXPECT_EQ(file != nullptr, c.exitStatus == 0) << c.size;
        if (file == nullptr) continue;
        EXPECT_EQ(decodeKitFile(file, image), KitDecodeStatus::kEnded) << c.size;
        std::fclose(file);
        EXPECT_EQ(image.count, c.bytes) << c.size;
        EXPECT_TRUE(imageIsValid(image)) << c.size;
    }
}

// Records of the payload asked for, the last ones shorter where the image ends: the kits of the
// DIN-rate link's cases (4 KB, 16 KB and one record filling the whole image) and small payloads
// whose shortened record must still be a whole one.
TEST(ValidateImage, SampleKitRecordsHoldThePayloadAsked) {
    const struct {
        std::string payload;
        std::string size;
        std::vector<unsigned> records;  // each record's length, overhead included
    } cases[] = {
        {"4096", "8200", {4100, 4100}}, {"16384", "16388", {16388}}, {"65531", "65535", {65535}},
        {"4096", "4101", {4097, 4}},    {"4", "14", {8, 6}},         {"4", "11", {7, 4}},
        {"256", "530", {260, 260, 10}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const ProcessResult result = runProcess(
            MAKE_SAMPLE_KIT_EXE, {"--payload", c.payload, "kit.hex", c.size}, dir.path());
        ASSERT_EQ(result.exitStatus, 0) << c.payload << " " << c.size << ": " << result.err;
        std::FILE* file = std::fopen((dir.path() / "kit.hex").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(decodeKitFile(file, image), KitDecodeStatus::kEnded);
        std::fclose(file);
        EXPECT_TRUE(imageIsValid(image)) << c.payload << " " << c.size;
        std::vector<unsigned> records;
        for (unsigned at = 0; at + 1 < image.count;) {
            const unsigned length = image.bytes[at] * 256u + image.bytes[at + 1];
            records.push_back(length + 2);
            at += length + 2;
        }
        EXPECT_EQ(records, c.records) << c.payload << " " << c.size;
    }
}

// Its command line: an option is never taken for the kit's file name.
TEST(ValidateImage, SampleKitToolTakesNoOptionForAFileName) {
    const std::string usage = "usage: make-sample-kit [--payload BYTES] FILE [IMAGE_BYTES]\n";
    const struct {
        std::vector<std::string> args;
        int exitStatus;
        std::string out;  // its beginning
        std::string err;  // its beginning
    } cases[] = {
        {{"--help"}, 0, usage, ""},
        {{"-h", "5"}, 0, usage, ""},
        {{"kit.hex", "--help"}, 0, usage, ""},
        {{"--size=5"}, 2, "", "make-sample-kit: unknown option: --size=5\n" + usage},
        {{"-x", "kit.hex"}, 2, "", "make-sample-kit: unknown option: -x\n" + usage},
        {{"kit.hex", "-5"}, 2, "", "make-sample-kit: IMAGE_BYTES must be"},
        {{"--payload", "3", "kit.hex"}, 2, "", "make-sample-kit: --payload needs"},
        {{"--payload", "65532", "kit.hex"}, 2, "", "make-sample-kit: --payload needs"},
        {{"--payload"}, 2, "", "make-sample-kit: --payload needs"},
        {{"--payload", "16", "--size=5"}, 2, "", "make-sample-kit: unknown option: --size=5\n"},
        {{"--payload", "16"}, 2, "", usage},
        {{}, 2, "", usage},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const ProcessResult result = runProcess(MAKE_SAMPLE_KIT_EXE, c.args, dir.path());
        const std::string name = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(result.exitStatus, c.exitStatus) << name;
        EXPECT_EQ(result.out.substr(0, c.out.size()), c.out) << name;
        EXPECT_EQ(result.out.empty(), c.out.empty()) << name;
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err) << name;
        EXPECT_EQ(result.err.empty(), c.err.empty()) << name;
        // Nothing written: no kit named after an option, nor any other.
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << name;
    }
}

}  // namespace
