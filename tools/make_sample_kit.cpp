// Writes a sample Brevanto kit file: a firmware-like image in valid records, as hex text.
// Usage: make-sample-kit FILE [IMAGE_BYTES]
// The content is the same on every run, so transcripts and wire logs can be compared.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr unsigned kDefaultImageBytes = 40960;
constexpr unsigned kPayloadBytes = 256;  // a flash page per record
constexpr unsigned kRecordOverhead = 4;  // length field and checksum
constexpr unsigned kBytesPerLine = 32;

std::vector<uint8_t> makeImage(unsigned imageBytes) {
    std::vector<uint8_t> image;
    uint32_t state = 0x5EED1234u;
    while (image.size() + kRecordOverhead + 1 <= imageBytes) {
        const unsigned room = imageBytes - static_cast<unsigned>(image.size()) - kRecordOverhead;
        const unsigned payload = room < kPayloadBytes ? room : kPayloadBytes;
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

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make-sample-kit FILE [IMAGE_BYTES]\n");
        return 2;
    }
    const unsigned long imageBytes =
        argc == 3 ? std::strtoul(argv[2], nullptr, 0) : kDefaultImageBytes;
    if (imageBytes < kRecordOverhead || imageBytes > 65535) {
        std::fprintf(stderr, "make-sample-kit: IMAGE_BYTES must be 4 to 65535\n");
        return 2;
    }
    const std::vector<uint8_t> image = makeImage(static_cast<unsigned>(imageBytes));
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    for (size_t i = 0; i < image.size(); ++i) {
        std::fprintf(
            out, "%02X%s", image[i],
            (i % kBytesPerLine == kBytesPerLine - 1 || i + 1 == image.size()) ? "\r\n" : "");
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
