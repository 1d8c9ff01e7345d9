#include "image/validate_image.h"

#include "common/console_text.h"
#include "image/record.h"

namespace {

bool recordChecksumHolds(const ImageBuffer& image, uint16_t position, uint16_t size) {
    uint16_t sum = 0;
    const uint16_t payloadEnd = static_cast<uint16_t>(position + size - kRecordChecksumBytes);
    for (uint16_t i = static_cast<uint16_t>(position + kRecordLengthFieldBytes); i < payloadEnd;
         ++i) {
        sum = static_cast<uint16_t>(sum + image.bytes[i]);
    }
    const uint16_t checksum =
        static_cast<uint16_t>(image.bytes[payloadEnd] | image.bytes[payloadEnd + 1] << 8);
    return static_cast<uint16_t>(sum + checksum) == 0;
}

}  // namespace

bool imageIsValid(const ImageBuffer& image) {
    // An empty image would end in "Target update successfully!" with nothing sent.
    if (image.count == 0) {
        return false;
    }
    uint16_t position = 0;
    while (position < image.count) {
        const uint16_t left = static_cast<uint16_t>(image.count - position);
        if (left < kRecordLengthFieldBytes) {
            return false;  // a trailing byte that cannot hold a length field
        }
        const uint16_t length = recordLength(image, position);
        if (length < kRecordMinLength || length > kRecordMaxLength) {
            return false;  // no record has this length; T would not even advance the walk
        }
        const uint16_t size = recordSize(image, position);
        if (size > left) {
            return false;  // the record would take in bytes that were never decoded
        }
        if (!recordChecksumHolds(image, position, size)) {
            return false;
        }
        position = static_cast<uint16_t>(position + size);
    }
    return true;
}

StageResult validateImage(const ImageBuffer& image) {
    if (!imageIsValid(image)) {
        printText(ConsoleText::kUpgradeFileError);
        return StageResult::kStop;
    }
    return StageResult::kContinue;
}
