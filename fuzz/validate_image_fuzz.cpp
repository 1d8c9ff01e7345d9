// Image validation on whatever a kit file decodes to. Validation must accept exactly the images
// that an independent walk of the records accepts: non-empty, covered exactly by records whose
// length fields are 2 to 0xFFFD, every checksum holding. The bytes after the count are poisoned,
// so reading a byte that was never decoded is reported by AddressSanitizer.
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "image/decode_kit_text.h"
#include "image/validate_image.h"

namespace {

ImageBuffer image;  // static, like the run's, so poisoning covers exactly the unused storage

// Returns nullptr when the image is a valid sequence of records, else why not.
const char* walkRecords(const uint8_t* bytes, size_t count) {
    if (count == 0) return "empty image";
    size_t position = 0;
    while (position != count) {
        if (count - position < 2) return "trailing byte";
        const size_t length = static_cast<size_t>(bytes[position]) * 256 + bytes[position + 1];
        if (length < 2 || length > 0xFFFD) return "length field out of range";
        const size_t end = position + 2 + length;
        if (end > count) return "record reaches past the count";
        uint32_t sum = 0;
        for (size_t i = position + 2; i < end - 2; ++i) sum += bytes[i];
        sum += static_cast<uint32_t>(bytes[end - 2]) | static_cast<uint32_t>(bytes[end - 1]) << 8;
        if (sum % 65536 != 0) return "checksum fails";
        position = end;
    }
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ASAN_UNPOISON_MEMORY_REGION(image.bytes, sizeof image.bytes);
    KitDecoder decoder;
    kitDecoderStart(decoder, image);
    kitDecoderFeed(decoder, image, reinterpret_cast<const char*>(data), size);
    if (kitDecoderFinish(decoder, image) != KitDecodeStatus::kEnded)
        return 0;  // refused before validation

    ASAN_POISON_MEMORY_REGION(image.bytes + image.count, sizeof image.bytes - image.count);
    const bool accepted = imageIsValid(image);
    ASAN_UNPOISON_MEMORY_REGION(image.bytes, sizeof image.bytes);

    const char* refusal = walkRecords(image.bytes, image.count);
    if (accepted && refusal != nullptr) {
        std::fprintf(stderr, "validation accepted a %u-byte image: %s\n", image.count, refusal);
        std::abort();
    }
    if (!accepted && refusal == nullptr) {
        std::fprintf(stderr, "validation refused a valid %u-byte image\n", image.count);
        std::abort();
    }
    return 0;
}
