// Writes a sample Brevanto kit file: a firmware-like image in valid records, as hex text.
// Usage: make-sample-kit [--payload BYTES] FILE [IMAGE_BYTES]   (exactly that many bytes, 4 to
// 65535, in records of BYTES payload bytes, 256 unless given)
// The content is the same on every run, so transcripts and wire logs can be compared.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/sample_kit.h"

namespace {

constexpr unsigned kDefaultImageBytes = 40960;
constexpr unsigned kDefaultPayloadBytes = kSamplePayloadBytes;
constexpr unsigned kRecordOverhead = kSampleRecordOverhead;
constexpr unsigned long kMaxImageBytes = 65535;
// One record as large as the image's count allows; at least as large as a record's overhead, so
// that the record shortened before the last stays a whole record.
constexpr unsigned long kMinPayloadBytes = kRecordOverhead;
constexpr unsigned long kMaxPayloadBytes = kMaxImageBytes - kRecordOverhead;

const char* const kUsage = "usage: make-sample-kit [--payload BYTES] FILE [IMAGE_BYTES]\n";
const char* const kHelp =
    "Writes a sample Brevanto kit: a firmware-like image in valid records, as hex text,\n"
    "exactly IMAGE_BYTES bytes (decimal, 4 to 65535; default 40960).\n"
    "  --payload BYTES   payload bytes per record (decimal, 4 to 65531; default 256)\n";

// Decimal digits only: "10abc" and "0x10" are refused, "010" is ten.
bool parseSize(const char* text, unsigned long least, unsigned long most, unsigned long& size) {
    if (*text == '\0') return false;
    unsigned long value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(*c - '0');
        if (value > most) return false;
    }
    if (value < least) return false;
    size = value;
    return true;
}

bool asksForHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (asksForHelp(argv[i])) {
            std::printf("%s%s", kUsage, kHelp);
            return 0;
        }
    }
    unsigned long payloadBytes = kDefaultPayloadBytes;
    int first = 1;  // the first argument after the option
    if (argc >= 2 && std::strcmp(argv[1], "--payload") == 0) {
        if (argc < 3 || !parseSize(argv[2], kMinPayloadBytes, kMaxPayloadBytes, payloadBytes)) {
            std::fprintf(stderr, "make-sample-kit: --payload needs a decimal number, 4 to 65531\n");
            return 2;
        }
        first = 3;
    }
    // An option is never taken for the file name, which would make a kit called "--size". A
    // size starting with '-' is refused as a size.
    if (argc > first && argv[first][0] == '-') {
        std::fprintf(stderr, "make-sample-kit: unknown option: %s\n%s", argv[first], kUsage);
        return 2;
    }
    if (argc - first < 1 || argc - first > 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    unsigned long imageBytes = kDefaultImageBytes;
    if (argc - first == 2 &&
        !parseSize(argv[first + 1], kRecordOverhead, kMaxImageBytes, imageBytes)) {
        std::fprintf(stderr, "make-sample-kit: IMAGE_BYTES must be a decimal number, 4 to 65535\n");
        return 2;
    }
    const std::string text =
        sampleKitText(static_cast<unsigned>(imageBytes), static_cast<unsigned>(payloadBytes));
    std::FILE* out = std::fopen(argv[first], "wb");
    if (out == nullptr) {
        std::perror(argv[first]);
        return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[first]);
        return 1;
    }
    return 0;
}
