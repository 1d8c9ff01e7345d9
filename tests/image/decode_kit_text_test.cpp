#include "image/decode_kit_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/kit_builder.h"

namespace {

ImageBuffer image;  // 128 KiB: too big for a test's stack

struct DecodeCase {
    const char* name;
    std::string text;
    Bytes expected;
    KitDecodeStatus status;
};

Bytes decodeWhole(const std::string& text, KitDecodeStatus* status) {
    KitDecoder decoder;
    kitDecoderStart(decoder, image);
    kitDecoderFeed(decoder, image, text.data(), text.size());
    *status = kitDecoderFinish(decoder, image);
    return Bytes(image.bytes, image.bytes + image.count);
}

TEST(DecodeKitText, GrammarTable) {
    const std::vector<DecodeCase> cases = {
        {"two digits run together", "0A1B", {0x0A, 0x1B}, KitDecodeStatus::kEnded},
        {"space between numbers", "0A 1B", {0x0A, 0x1B}, KitDecodeStatus::kEnded},
        {"one-digit number", "A 1B", {0x0A, 0x1B}, KitDecodeStatus::kEnded},
        {"either case", "0a0B", {0x0A, 0x0B}, KitDecodeStatus::kEnded},
        {"third digit starts a number", "ABC", {0xAB, 0x0C}, KitDecodeStatus::kEnded},
        {"every whitespace kind", " \t\r\n\v\f01\r\n\t02", {0x01, 0x02}, KitDecodeStatus::kEnded},
        {"Intel-HEX colon first", ":10000000", {}, KitDecodeStatus::kEnded},
        {"plus sign stops", "01 +02", {0x01}, KitDecodeStatus::kEnded},
        {"minus sign stops", "-01", {}, KitDecodeStatus::kEnded},
        {"0x prefix gives 00 then stops", "0x12", {0x00}, KitDecodeStatus::kEnded},
        {"odd trailing digit", "0102 3", {0x01, 0x02, 0x03}, KitDecodeStatus::kEnded},
        {"digit then garbage", "7g", {0x07}, KitDecodeStatus::kEnded},
        {"garbage ends silently", "FF zz 01", {0xFF}, KitDecodeStatus::kEnded},
        {"empty text", "", {}, KitDecodeStatus::kEnded},
        {"NUL byte stops",
         std::string("01\0"
                     "02",
                     5),
         {0x01},
         KitDecodeStatus::kEnded},
        {"high-bit byte stops",
         "01\xC3"
         "02",
         {0x01},
         KitDecodeStatus::kEnded},
    };
    for (const auto& c : cases) {
        KitDecodeStatus status;
        EXPECT_EQ(hexOf(decodeWhole(c.text, &status)), hexOf(c.expected)) << c.name;
        EXPECT_EQ(status, c.status) << c.name;
    }
}

TEST(DecodeKitText, NumberSplitAcrossBlocksDecodesAsOne) {
    const std::string text = "0A1B 2";
    for (size_t split = 0; split <= text.size(); ++split) {
        KitDecoder decoder;
        kitDecoderStart(decoder, image);
        kitDecoderFeed(decoder, image, text.data(), split);
        kitDecoderFeed(decoder, image, text.data() + split, text.size() - split);
        kitDecoderFinish(decoder, image);
        EXPECT_EQ(hexOf(Bytes(image.bytes, image.bytes + image.count)), "0A 1B 02")
            << "split at " << split;
    }
}

TEST(DecodeKitText, LimitIs65535Numbers) {
    std::string full;
    for (int i = 0; i < 65535; ++i) full += "5A";
    KitDecodeStatus status;
    EXPECT_EQ(decodeWhole(full, &status).size(), 65535u);
    EXPECT_EQ(status, KitDecodeStatus::kEnded);

    // One more number, even of one digit, is refused rather than cut off.
    EXPECT_EQ(decodeWhole(full + "\n7", &status).size(), 65535u);
    EXPECT_EQ(status, KitDecodeStatus::kTooLong);

    // Trailing whitespace or a non-number after the last byte is not a number.
    decodeWhole(full + " \r\n:", &status);
    EXPECT_EQ(status, KitDecodeStatus::kEnded);
}

TEST(DecodeKitText, FileDecodingCrossesReadBlocks) {
    Bytes expected;
    std::string text;
    for (int i = 0; i < 10000; ++i) {
        expected.push_back(static_cast<uint8_t>(i * 7));
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02x ", static_cast<uint8_t>(i * 7));
        text += digits;
    }
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    EXPECT_EQ(decodeKitFile(file, image), KitDecodeStatus::kEnded);
    std::fclose(file);
    EXPECT_EQ(Bytes(image.bytes, image.bytes + image.count), expected);
}

// A file whose reading fails part-way: what was read before must not pass for the whole kit.
// The stream gives its text in one read, then fails (or ends, for the control case).
struct CutStream {
    std::string text;
    bool fails;
    bool given = false;
};

ssize_t readCut(void* cookie, char* buffer, size_t size) {
    auto* stream = static_cast<CutStream*>(cookie);
    if (stream->given) {
        if (!stream->fails) return 0;
        errno = EIO;
        return -1;
    }
    stream->given = true;
    const size_t n = std::min(size, stream->text.size());
    std::memcpy(buffer, stream->text.data(), n);
    return static_cast<ssize_t>(n);
}

TEST(DecodeKitText, ReadErrorIsNotTheEndOfTheText) {
    for (const bool fails : {true, false}) {
        CutStream stream{"00 05 01 02 03 FA FF", fails};
        cookie_io_functions_t io{readCut, nullptr, nullptr, nullptr};
        std::FILE* file = fopencookie(&stream, "rb", io);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(decodeKitFile(file, image),
                  fails ? KitDecodeStatus::kReadError : KitDecodeStatus::kEnded);
        std::fclose(file);
    }
}

}  // namespace
