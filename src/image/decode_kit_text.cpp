#include "image/decode_kit_text.h"

namespace {

constexpr size_t kReadBlockBytes = 4096;
constexpr uint8_t kNoDigit = 0xFF;

uint8_t hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    return kNoDigit;
}

bool isKitWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The caller has made sure the count has room: a number is refused at its first digit.
void storeNumber(KitDecoder& decoder, ImageBuffer& image) {
    image.bytes[image.count] = decoder.value;
    ++image.count;
    decoder.digits = 0;
    decoder.value = 0;
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
    for (size_t i = 0; i < length && decoder.status == KitDecodeStatus::kMore; ++i) {
        const char c = text[i];
        const uint8_t digit = hexDigitValue(c);
        if (digit != kNoDigit) {
            if (decoder.digits == 0 && image.count == kImageMaxBytes) {
                // A 65,536th number: refuse the file rather than cut the image short.
                decoder.status = KitDecodeStatus::kTooLong;
                break;
            }
            decoder.value = static_cast<uint8_t>(decoder.value << 4 | digit);
            ++decoder.digits;
            if (decoder.digits == 2) {
                storeNumber(decoder, image);
            }
            continue;
        }
        if (decoder.digits == 1) {
            // A one-digit number ends at the first character that is not a digit.
            storeNumber(decoder, image);
        }
        if (!isKitWhitespace(c)) {
            decoder.status = KitDecodeStatus::kEnded;
        }
    }
    return decoder.status;
}

KitDecodeStatus kitDecoderFinish(KitDecoder& decoder, ImageBuffer& image) {
    if (decoder.status == KitDecodeStatus::kMore) {
        if (decoder.digits == 1) {
            storeNumber(decoder, image);
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
    // A read error ends the text like the end of the file does.
    return kitDecoderFinish(decoder, image);
}
