#include "tools/sample_kit.h"

#include <cstdint>
#include <vector>

namespace {

constexpr unsigned kBytesPerLine = 32;

// Exactly imageBytes bytes: full pages, and where a page would leave less than a whole record
// behind, a shorter one before the last.
std::vector<uint8_t> makeImage(unsigned imageBytes, unsigned payloadBytes) {
    std::vector<uint8_t> image;
    uint32_t state = 0x5EED1234u;
    while (image.size() < imageBytes) {
        const unsigned remaining = imageBytes - static_cast<unsigned>(image.size());
        unsigned recordBytes = remaining < payloadBytes + kSampleRecordOverhead
                                   ? remaining
                                   : payloadBytes + kSampleRecordOverhead;
        const unsigned left = remaining - recordBytes;
        if (left > 0 && left < kSampleRecordOverhead)
            recordBytes = remaining - kSampleRecordOverhead;
        const unsigned payload = recordBytes - kSampleRecordOverhead;
        const unsigned length = payload + 2;
        image.push_back(static_cast<uint8_t>(length >> 8));
        image.push_back(static_cast<uint8_t>(length & 0xFF));
        uint16_t sum = 0;
        for (unsigned i = 0; i < payload; ++i) {
            state = state * 1664525u + 1013904223u;
            const uint8_t b = static_cast<uint8_t>(state >> 24);
            image.push_back(b);
            sum = static_cast<uint16_t>(sum + b);
        }
        const uint16_t checksum = static_cast<uint16_t>(0x10000u - sum);
        image.push_back(static_cast<uint8_t>(checksum & 0xFF));
        image.push_back(static_cast<uint8_t>(checksum >> 8));
    }
    return image;
}

}  // namespace

std::string sampleKitText(unsigned imageBytes, unsigned payloadBytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    const std::vector<uint8_t> image = makeImage(imageBytes, payloadBytes);
    std::string text;
    for (size_t i = 0; i < image.size(); ++i) {
        text += kDigits[image[i] >> 4];
        text += kDigits[image[i] & 0x0F];
        if (i % kBytesPerLine == kBytesPerLine - 1 || i + 1 == image.size()) text += "\r\n";
    }
    return text;
}
