#include "image/decode_kit_text.h"

namespace {

constexpr size_t kReadBlockBytes = 4096;

// What each character is to the grammar: a hex digit's value (0 to 15), whitespace, or the end.
constexpr uint8_t kWhitespace = 0x10;
constexpr uint8_t kEndOfText = 0x20;

struct CharacterClasses {
    uint8_t of[256];
};

constexpr CharacterClasses makeCharacterClasses() {
    CharacterClasses classes{};
    for (int c = 0; c < 256; ++c) {
        classes.of[c] = kEndOfText;
    }
    for (int v = 0; v < 10; ++v) {
        classes.of['0' + v] = static_cast<uint8_t>(v);
    }
    for (int v = 0; v < 6; ++v) {
        classes.of['A' + v] = static_cast<uint8_t>(10 + v);
        classes.of['a' + v] = static_cast<uint8_t>(10 + v);
    }
    constexpr char kSpaces[] = " \t\n\v\f\r";
    for (size_t i = 0; i + 1 < sizeof kSpaces; ++i) {
        classes.of[static_cast<uint8_t>(kSpaces[i])] = kWhitespace;
    }
    return classes;
}

// A table rather than comparisons: kit text is mostly digit pairs, and a lookup has no branch to
// mispredict between digits and letters.
constexpr CharacterClasses kClasses = makeCharacterClasses();

bool isHexDigit(uint8_t characterClass) {
    return characterClass < kWhitespace;
}

}  // namespace

void kitDecoderStart(KitDecoder& decoder, ImageBuffer& image) {
    decoder.status = KitDecodeStatus::kMore;
    decoder.digits = 0;
    decoder.value = 0;
    image.count = 0;
}

KitDecodeStatus kitDecoderFeed(KitDecoder& decoder, ImageBuffer& image, const char* text,
                               size_t length) {
    if (decoder.status != KitDecodeStatus::kMore) {
        return decoder.status;
    }
    // The state lives in locals while the block is decoded and is written back once.
    const uint8_t* next = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* const end = next + length;
    uint16_t count = image.count;
    uint8_t digits = decoder.digits;
    uint8_t value = decoder.value;
    KitDecodeStatus status = KitDecodeStatus::kMore;

    while (next != end) {
        const uint8_t first = kClasses.of[*next];
        if (isHexDigit(first)) {
            if (digits == 1) {
                // The second digit of a number the previous block began.
                image.bytes[count++] = static_cast<uint8_t>(value << 4 | first);
                digits = 0;
                value = 0;
                ++next;
                continue;
            }
            if (count == kImageMaxBytes) {
                // A 65,536th number: refuse the file rather than cut the image short.
                status = KitDecodeStatus::kTooLong;
                break;
            }
            if (next + 1 == end) {
                // The block ends after one digit: the next block may hold the second.
                digits = 1;
                value = first;
                ++next;
                continue;
            }
            const uint8_t second = kClasses.of[next[1]];
            if (isHexDigit(second)) {
                image.bytes[count++] = static_cast<uint8_t>(first << 4 | second);
                next += 2;
            } else {
                // A one-digit number ends at the first character that is not a digit, which
                // the next round looks at.
                image.bytes[count++] = first;
                ++next;
            }
            continue;
        }
        if (digits == 1) {
            image.bytes[count++] = value;
            digits = 0;
            value = 0;
        }
        if (first != kWhitespace) {
            status = KitDecodeStatus::kEnded;
            break;
        }
        ++next;
    }

    image.count = count;
    decoder.digits = digits;
    decoder.value = value;
    decoder.status = status;
    return status;
}

KitDecodeStatus kitDecoderFinish(KitDecoder& decoder, ImageBuffer& image) {
    if (decoder.status == KitDecodeStatus::kMore) {
        if (decoder.digits == 1) {
            // The text ends after one digit: a number of one digit.
            image.bytes[image.count++] = decoder.value;
            decoder.digits = 0;
            decoder.value = 0;
        }
        decoder.status = KitDecodeStatus::kEnded;
    }
    return decoder.status;
}

KitDecodeStatus decodeKitFile(std::FILE* file, ImageBuffer& image) {
    KitDecoder decoder;
    kitDecoderStart(decoder, image);
    char block[kReadBlockBytes];
    size_t got;
    while (decoder.status == KitDecodeStatus::kMore &&
           (got = std::fread(block, 1, sizeof block, file)) > 0) {
        kitDecoderFeed(decoder, image, block, got);
    }
    // Text cut off by a read error could still decode and pass the checksums as a shorter image.
    if (decoder.status == KitDecodeStatus::kMore && std::ferror(file)) {
        return KitDecodeStatus::kReadError;
    }
    return kitDecoderFinish(decoder, image);
}
