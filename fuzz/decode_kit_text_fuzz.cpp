// Kit text decoding on arbitrary bytes. The same text is decoded whole, a byte at a time, in
// blocks of pseudo-random sizes, through a file, and once more after 65,529 numbers so that the
// 65,535-byte limit is in reach of short inputs. Every way must agree with a plain reading of the
// grammar written here, and a finished decoder must stay finished.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/decode_kit_text.h"

namespace {

constexpr uint8_t kUntouched = 0xA5;  // fills bytes the decoder must not write
constexpr size_t kUntouchedSpan = 64;
constexpr uint16_t kPrefixNumbers = kImageMaxBytes - 6;

// Kit text grammar as a plain reading of the whole text: optional whitespace, then one or two
// hex digits make a number; any other character ends the text; a 65,536th number is refused.
struct Reference {
    KitDecodeStatus status;
    size_t count;
    uint8_t bytes[kImageMaxBytes];
};

int referenceDigit(uint8_t c) {
    static const char kDigits[] = "0123456789abcdef";
    const uint8_t lower = (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c - 'A' + 'a') : c;
    for (int v = 0; v < 16; ++v) {
        if (static_cast<uint8_t>(kDigits[v]) == lower) return v;
    }
    return -1;
}

bool referenceSpace(uint8_t c) {
    static const char kSpaces[] = " \t\n\v\f\r";
    return std::memchr(kSpaces, c, sizeof kSpaces - 1) != nullptr;
}

void referenceDecode(const uint8_t* text, size_t n, size_t startCount, Reference& ref) {
    ref.count = startCount;
    size_t i = 0;
    for (;;) {
        while (i < n && referenceSpace(text[i])) ++i;
        if (i == n || referenceDigit(text[i]) < 0) {
            ref.status = KitDecodeStatus::kEnded;
            return;
        }
        if (ref.count == kImageMaxBytes) {
            ref.status = KitDecodeStatus::kTooLong;
            return;
        }
        int value = referenceDigit(text[i++]);
        if (i < n && referenceDigit(text[i]) >= 0) value = value * 16 + referenceDigit(text[i++]);
        ref.bytes[ref.count++] = static_cast<uint8_t>(value);
    }
}

[[noreturn]] void fail(const char* how, const char* what, size_t detail) {
    std::fprintf(stderr, "kit decoding (%s): %s (%zu)\n", how, what, detail);
    std::abort();
}

const char* statusName(KitDecodeStatus s) {
    switch (s) {
        case KitDecodeStatus::kMore:
            return "more";
        case KitDecodeStatus::kEnded:
            return "ended";
        case KitDecodeStatus::kTooLong:
            return "too long";
        case KitDecodeStatus::kReadError:
            return "read error";
    }
    return "invalid";
}

size_t untouchedEnd(size_t from, size_t textLength) {
    const size_t end = from + textLength + kUntouchedSpan;
    return end < kImageStorageBytes ? end : kImageStorageBytes;
}

void checkAgainst(const Reference& ref, const ImageBuffer& image, KitDecodeStatus status,
                  size_t startCount, size_t textLength, const char* how) {
    if (status != KitDecodeStatus::kEnded && status != KitDecodeStatus::kTooLong)
        fail(how, statusName(status), 0);
    if (status != ref.status)
        fail(how, "status differs from the grammar's", static_cast<size_t>(ref.status));
    if (image.count != ref.count) fail(how, "byte count differs from the grammar's", ref.count);
    if (std::memcmp(image.bytes + startCount, ref.bytes + startCount, ref.count - startCount) != 0)
        fail(how, "bytes differ from the grammar's", ref.count);
    for (size_t i = image.count; i < untouchedEnd(startCount, textLength); ++i) {
        if (image.bytes[i] != kUntouched) fail(how, "wrote past the count", i);
    }
}

// Deterministic block sizes drawn from the text itself, so a crash replays.
struct BlockSizes {
    uint64_t state;
    size_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        // Mostly short blocks, with empty ones and the odd long one.
        const unsigned pick = static_cast<unsigned>(state % 100);
        if (pick < 5) return 0;
        if (pick < 90) return 1 + static_cast<size_t>((state >> 8) % 8);
        return 1 + static_cast<size_t>((state >> 8) % 4096);
    }
};

uint64_t textHash(const uint8_t* data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    return h | 1;  // xorshift must not start at 0
}

enum class Split { kWhole, kBytes, kBlocks };

// Feeds the text in blocks; feeding on after the end must change nothing.
KitDecodeStatus feedInBlocks(KitDecoder& decoder, ImageBuffer& image, const char* text, size_t size,
                             Split split, uint64_t seed, const char* how) {
    BlockSizes sizes{seed};
    size_t at = 0;
    bool ended = false;
    uint16_t countAtEnd = 0;
    if (kitDecoderFeed(decoder, image, text, 0) != KitDecodeStatus::kMore)
        fail(how, "an empty block ended the text", 0);
    while (at < size) {
        size_t block = split == Split::kWhole ? size : split == Split::kBytes ? 1 : sizes.next();
        if (block > size - at) block = size - at;
        const KitDecodeStatus status = kitDecoderFeed(decoder, image, text + at, block);
        if (status != decoder.status) fail(how, "returned status is not the decoder's", at);
        if (ended && image.count != countAtEnd) fail(how, "decoded on after the end", at);
        if (status != KitDecodeStatus::kMore && !ended) {
            ended = true;
            countAtEnd = image.count;
        }
        at += block;
    }
    const KitDecodeStatus finished = kitDecoderFinish(decoder, image);
    const uint16_t countFinished = image.count;
    if (kitDecoderFinish(decoder, image) != finished || image.count != countFinished)
        fail(how, "finishing twice changed the result", countFinished);
    return finished;
}

ImageBuffer image;
ImageBuffer prefixed;  // the decoder's image after kPrefixNumbers numbers
KitDecoder prefixedDecoder;
Reference reference;

void preparePrefixed() {
    std::memset(prefixed.bytes, kUntouched, sizeof prefixed.bytes);
    kitDecoderStart(prefixedDecoder, prefixed);
    for (uint16_t i = 0; i < kPrefixNumbers; ++i) {
        kitDecoderFeed(prefixedDecoder, prefixed, "00", 2);
    }
    if (prefixed.count != kPrefixNumbers || prefixedDecoder.status != KitDecodeStatus::kMore)
        fail("prefix", "could not reach the limit's neighbourhood", prefixed.count);
}

void freshImage(size_t textLength) {
    std::memset(image.bytes, kUntouched, untouchedEnd(0, textLength));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    preparePrefixed();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const uint64_t seed = textHash(data, size);

    referenceDecode(data, size, 0, reference);
    const Split splits[] = {Split::kWhole, Split::kBytes, Split::kBlocks};
    const char* names[] = {"whole", "byte by byte", "random blocks"};
    for (size_t s = 0; s < 3; ++s) {
        freshImage(size);
        KitDecoder decoder;
        kitDecoderStart(decoder, image);
        const KitDecodeStatus status =
            feedInBlocks(decoder, image, text, size, splits[s], seed, names[s]);
        checkAgainst(reference, image, status, 0, size, names[s]);
    }

    // Through a file, in the decoder's own read blocks.
    if (size > 0) {
        freshImage(size);
        std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (file == nullptr) fail("file", "fmemopen failed", size);
        const KitDecodeStatus status = decodeKitFile(file, image);
        std::fclose(file);
        checkAgainst(reference, image, status, 0, size, "file");
    }

    // Near the limit: the 65,536th number must be refused, never stored or wrapped.
    std::memcpy(&image, &prefixed, sizeof image);
    KitDecoder decoder = prefixedDecoder;
    referenceDecode(data, size, kPrefixNumbers, reference);
    const KitDecodeStatus status =
        feedInBlocks(decoder, image, text, size, Split::kBlocks, seed, "near the limit");
    checkAgainst(reference, image, status, kPrefixNumbers, size, "near the limit");
    for (size_t i = 0; i < kPrefixNumbers; ++i) {
        if (image.bytes[i] != 0) fail("near the limit", "earlier bytes changed", i);
    }
    return 0;
}
